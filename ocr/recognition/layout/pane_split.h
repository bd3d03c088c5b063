#pragma once

#include <vector>

#include "recognition/layout/pane_edge.h"
#include "recognition/text_line.h"

namespace mivo::ocr {

// The lines of each pane of a screen, panes in reading order: at each
// border, what stands above its stretch, the pane on its left, the pane on
// its right, then what stands below. A border that a word runs across is
// not one, nor is one whose two sides' rows line up line for line: that is
// a table's shaded column. Words keep their line and block; with no borders, all lines
// form one pane.
std::vector<std::vector<TextLine>> splitIntoPanes(const std::vector<TextLine>& lines,
                                                  std::vector<PaneEdge> edges);

}  // namespace mivo::ocr
