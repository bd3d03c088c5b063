#include "recognition/layout/reading_order.h"

#include <optional>

namespace mivo::ocr {
namespace {

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

std::optional<Cut> bestCut(const std::vector<LayoutUnit>& units) {
  const std::optional<Cut> across = widestGap(units, &PixelBox::top, &PixelBox::bottom, false);
  const std::optional<Cut> down = widestGap(units, &PixelBox::left, &PixelBox::right, true);
  if (across && down) {
    return down->gap > across->gap ? down : across;
  }
  return across ? across : down;
}

void sortByTopThenLeft(std::vector<LayoutUnit>& units) {
  std::stable_sort(units.begin(), units.end(), [](const LayoutUnit& a, const LayoutUnit& b) {
    return a.box.top != b.box.top ? a.box.top < b.box.top : a.box.left < b.box.left;
  });
}

}  // namespace

std::vector<LayoutUnit> orderForReading(std::vector<LayoutUnit> units) {
  if (units.size() <= 1) {
    return units;
  }
  const std::optional<Cut> cut = bestCut(units);
  if (!cut) {
    sortByTopThenLeft(units);
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
