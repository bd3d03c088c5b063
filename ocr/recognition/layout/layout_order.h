#pragma once

#include <vector>

#include "recognition/layout/pane_edge.h"
#include "recognition/text_line.h"

namespace mivo::ocr {

// Puts the engine's lines into reading order. Blocks of running text
// (documents, scans) keep the engine's own order, which follows its columns
// and paragraphs. Everything between them (screens, tables, code) is
// rearranged: lines split at wide gaps, table rows read whole, panels and
// cards one after another. A screen's side-by-side panes, divided at
// PANE_EDGES, are read one after another. Rows are found along the page's
// tilt, so a crooked scan or photo reads like a level page; the words come
// back measured in that level frame.
std::vector<TextLine> orderByLayout(const std::vector<TextLine>& lines,
                                    const std::vector<PaneEdge>& paneEdges = {});

}  // namespace mivo::ocr
