#pragma once

#include <vector>

#include "recognition/layout/layout_geometry.h"

namespace mivo::ocr {

// What the reading order arranges: a lone segment, or a table whose rows
// are read whole, one after another.
struct LayoutUnit {
  std::vector<std::vector<Segment>> rows;
  PixelBox box;
};

// Rows of several segments in the same column positions, with text of one
// size, three or more in a row, form a table; every other segment becomes
// a unit of its own.
std::vector<LayoutUnit> findTables(const std::vector<std::vector<Segment>>& rows);

}  // namespace mivo::ocr
