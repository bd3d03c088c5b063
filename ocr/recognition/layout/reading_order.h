#pragma once

#include "recognition/layout/table_detection.h"

#include <vector>

namespace mivo::ocr {

// Orders units by cutting the page recursively along its widest empty
// stripe: across it, the part above comes first; down it, the part to the
// left. Side panels, cards and columns are so read one at a time, and
// stacked blocks top first. A stripe down between labels and their values
// on shared rows is not cut. Units that no stripe separates are read row by
// row, each row left to right.
std::vector<LayoutUnit> orderForReading(std::vector<LayoutUnit> units);

}  // namespace mivo::ocr
