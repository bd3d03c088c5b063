#pragma once

#include <vector>

#include "recognition/layout/table_detection.h"

namespace mivo::ocr {

// Orders units by cutting the page recursively along its widest empty
// stripe: across it, the part above comes first; down it, the part to the
// left. Side panels, cards and columns are so read one at a time, and
// stacked blocks top first. Units that no stripe separates, and labels
// and values on shared rows, are read row by row, each row left to right.
std::vector<LayoutUnit> orderForReading(std::vector<LayoutUnit> units);

}  // namespace mivo::ocr
