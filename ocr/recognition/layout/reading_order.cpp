#include "recognition/layout/reading_order.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace mivo::ocr {
namespace {

// Two boxes stand on one row when their middles are this close, in heights
// of the smaller one; ascenders and descenders move a middle by about 0.15.
constexpr double kRowCentreTolerance = 0.25;
constexpr double kMaxRowHeightRatio = 1.5;

struct Cut {
  int gap = 0;
  double position = 0.0;
  bool vertical = false;  // a stripe running down the page: left before right
};

// The widest stretch of the axis that no unit covers. `low` and `high` pick
// the edges of a box along the axis.
std::optional<Cut> widestGap(const std::vector<LayoutUnit>& units, int PixelBox::*low,
                             int PixelBox::*high, bool vertical) {
  std::vector<std::pair<int, int>> spans;
  for (const LayoutUnit& unit : units) {
    spans.emplace_back(unit.box.*low, unit.box.*high);
  }
  std::sort(spans.begin(), spans.end());
  std::optional<Cut> widest;
  int reach = spans.front().second;
  for (const auto& [start, end] : spans) {
    const int gap = start - reach;
    if (gap > 0 && (!widest || gap > widest->gap)) {
      widest = Cut{gap, reach + gap / 2.0, vertical};
    }
    reach = std::max(reach, end);
  }
  return widest;
}

bool shareRow(const PixelBox& a, const PixelBox& b) {
  return std::abs(centreY(a) - centreY(b)) <= kRowCentreTolerance * std::min(a.height(), b.height());
}

std::size_t wordCount(const LayoutUnit& unit) {
  std::size_t words = 0;
  for (const std::vector<Segment>& row : unit.rows) {
    for (const Segment& segment : row) {
      words += segment.words.size();
    }
  }
  return words;
}

// Receipts and label/value lists put each label and its short value on one
// row in one text size; a cut down the gap between them would tear every row
// apart. Cards and panels change text size from row to row, and columns of
// running text have long lines on both sides.
bool tearsRowsApart(const std::vector<LayoutUnit>& units, double position) {
  const auto [lowest, highest] = std::minmax_element(
      units.begin(), units.end(),
      [](const LayoutUnit& a, const LayoutUnit& b) { return a.box.height() < b.box.height(); });
  if (highest->box.height() > kMaxRowHeightRatio * lowest->box.height()) {
    return false;
  }
  std::vector<const LayoutUnit*> left;
  std::vector<const LayoutUnit*> right;
  for (const LayoutUnit& unit : units) {
    (unit.box.right <= position ? left : right).push_back(&unit);
  }
  const std::vector<const LayoutUnit*>& fewer = left.size() <= right.size() ? left : right;
  const std::vector<const LayoutUnit*>& more = left.size() <= right.size() ? right : left;
  return std::all_of(fewer.begin(), fewer.end(), [&more](const LayoutUnit* unit) {
    return wordCount(*unit) < kRunningTextWords &&
           std::any_of(more.begin(), more.end(), [unit](const LayoutUnit* other) {
             return shareRow(unit->box, other->box);
           });
  });
}

std::optional<Cut> bestCut(const std::vector<LayoutUnit>& units) {
  const std::optional<Cut> across = widestGap(units, &PixelBox::top, &PixelBox::bottom, false);
  std::optional<Cut> down = widestGap(units, &PixelBox::left, &PixelBox::right, true);
  if (down && tearsRowsApart(units, down->position)) {
    down.reset();
  }
  if (across && down) {
    return down->gap > across->gap ? down : across;
  }
  return across ? across : down;
}

// Units that share a row left to right, rows top to bottom.
void sortByRows(std::vector<LayoutUnit>& units) {
  std::stable_sort(units.begin(), units.end(), [](const LayoutUnit& a, const LayoutUnit& b) {
    return a.box.top < b.box.top;
  });
  auto rowStart = units.begin();
  while (rowStart != units.end()) {
    const auto rowEnd = std::find_if(rowStart, units.end(), [&rowStart](const LayoutUnit& unit) {
      return !shareRow(rowStart->box, unit.box);
    });
    std::stable_sort(rowStart, rowEnd, [](const LayoutUnit& a, const LayoutUnit& b) {
      return a.box.left < b.box.left;
    });
    rowStart = rowEnd;
  }
}

}  // namespace

std::vector<LayoutUnit> orderForReading(std::vector<LayoutUnit> units) {
  if (units.size() <= 1) {
    return units;
  }
  const std::optional<Cut> cut = bestCut(units);
  if (!cut) {
    sortByRows(units);
    return units;
  }
  std::vector<LayoutUnit> first;
  std::vector<LayoutUnit> second;
  for (LayoutUnit& unit : units) {
    const int end = cut->vertical ? unit.box.right : unit.box.bottom;
    (end <= cut->position ? first : second).push_back(std::move(unit));
  }
  std::vector<LayoutUnit> ordered = orderForReading(std::move(first));
  for (LayoutUnit& unit : orderForReading(std::move(second))) {
    ordered.push_back(std::move(unit));
  }
  return ordered;
}

}  // namespace mivo::ocr
