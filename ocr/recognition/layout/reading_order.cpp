#include "recognition/layout/reading_order.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace mivo::ocr {
namespace {

// Two units stand on one row when their middles or their baselines are this
// close, in heights of the smaller one; ascenders and descenders move a
// middle by about 0.15.
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

// The engine fits a line's baseline and height through all its letters, so
// a speck that stretches one word's box moves neither.
double baselineOf(const LayoutUnit& unit) { return unit.rows.front().front().baseline; }

double boxHeight(const LayoutUnit& unit) { return unit.box.height(); }

double lineHeight(const LayoutUnit& unit) {
  std::vector<double> heights;
  for (const std::vector<Segment>& row : unit.rows) {
    for (const Segment& segment : row) {
      for (const RecognizedWord& word : segment.words) {
        heights.push_back(word.lineHeight);
      }
    }
  }
  return median(heights);
}

bool shareRow(const LayoutUnit& a, const LayoutUnit& b) {
  return std::abs(centreY(a.box) - centreY(b.box)) <=
             kRowCentreTolerance * std::min(boxHeight(a), boxHeight(b)) ||
         std::abs(baselineOf(a) - baselineOf(b)) <=
             kRowCentreTolerance * std::min(lineHeight(a), lineHeight(b));
}

bool sizesAgree(const std::vector<LayoutUnit>& units, double (*size)(const LayoutUnit&)) {
  const auto [lowest, highest] = std::minmax_element(
      units.begin(), units.end(),
      [size](const LayoutUnit& a, const LayoutUnit& b) { return size(a) < size(b); });
  return size(*highest) <= kMaxRowHeightRatio * size(*lowest);
}

// Text of one size by either measure: a speck stretches a box, and the
// engine guesses the height of a line of a glyph or two poorly.
bool oneTextSize(const std::vector<LayoutUnit>& units) {
  return sizesAgree(units, boxHeight) || sizesAgree(units, lineHeight);
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
// running text have long lines on both sides. A third of the short side may
// lack a partner: an item line whose quantity mark the noise filter dropped.
bool tearsRowsApart(const std::vector<LayoutUnit>& units, double position) {
  if (!oneTextSize(units)) {
    return false;
  }
  std::vector<const LayoutUnit*> left;
  std::vector<const LayoutUnit*> right;
  for (const LayoutUnit& unit : units) {
    (unit.box.right <= position ? left : right).push_back(&unit);
  }
  const std::vector<const LayoutUnit*>& fewer = left.size() <= right.size() ? left : right;
  const std::vector<const LayoutUnit*>& more = left.size() <= right.size() ? right : left;
  const auto paired = std::count_if(fewer.begin(), fewer.end(), [&more](const LayoutUnit* unit) {
    return wordCount(*unit) < kRunningTextWords &&
           std::any_of(more.begin(), more.end(),
                       [unit](const LayoutUnit* other) { return shareRow(*unit, *other); });
  });
  return static_cast<std::size_t>(paired) + fewer.size() / 3 >= fewer.size();
}

// Whether anything left of the stripe stands beside anything right of it.
// Messages of a conversation keep to two sides but take turns down the
// page, never beside each other: they are read in turn, from the top.
bool sidesStandBeside(const std::vector<LayoutUnit>& units, double position) {
  for (const LayoutUnit& left : units) {
    for (const LayoutUnit& right : units) {
      if (left.box.right <= position && right.box.left >= position &&
          left.box.top < right.box.bottom && right.box.top < left.box.bottom) {
        return true;
      }
    }
  }
  return false;
}

// No cut when the widest stripe runs down between the labels and values of
// shared rows: an across cut would then split the rows into pieces too
// small to show they are rows, so the region is read row by row.
std::optional<Cut> bestCut(const std::vector<LayoutUnit>& units) {
  const std::optional<Cut> across = widestGap(units, &PixelBox::top, &PixelBox::bottom, false);
  const std::optional<Cut> down = widestGap(units, &PixelBox::left, &PixelBox::right, true);
  if (down && (!across || down->gap > across->gap) &&
      (!across || sidesStandBeside(units, down->position))) {
    return tearsRowsApart(units, down->position) ? std::nullopt : down;
  }
  return across;
}

// Units that share a row left to right, rows top to bottom.
void sortByRows(std::vector<LayoutUnit>& units) {
  std::stable_sort(units.begin(), units.end(), [](const LayoutUnit& a, const LayoutUnit& b) {
    return baselineOf(a) < baselineOf(b);
  });
  auto rowStart = units.begin();
  while (rowStart != units.end()) {
    const auto rowEnd = std::find_if(rowStart, units.end(), [&rowStart](const LayoutUnit& unit) {
      return !shareRow(*rowStart, unit);
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
