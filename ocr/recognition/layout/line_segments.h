#pragma once

#include <vector>

#include "recognition/layout/layout_geometry.h"

namespace mivo::ocr {

// Splits every line where the space between two words is far wider than a
// word space: table cells or side-by-side panels the engine joined.
std::vector<Segment> splitAtWideGaps(const std::vector<TextLine>& lines);

// The baseline most of the words stand on.
double medianBaseline(const std::vector<RecognizedWord>& words);

// Groups segments that stand on one baseline into rows, top to bottom, each
// row left to right.
std::vector<std::vector<Segment>> groupIntoRows(std::vector<Segment> segments);

}  // namespace mivo::ocr
