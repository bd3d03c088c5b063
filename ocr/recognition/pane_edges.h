#pragma once

#include <vector>

#include "recognition/layout/pane_edge.h"

struct Pix;

namespace mivo::ocr {

// The borders between side-by-side panes of a screen in PAGE (8 bpp grey):
// vertical lines with a flat ground of one level on their left and a flat
// ground of another on their right, for a good part of the page's height.
// TEXT_HEIGHT is the height of a line of the page's text in pixels; a strip
// narrower than a few words (line numbers, row headers, an icon bar) is not
// a pane. Scans and photos have no flat ground and so no edges.
std::vector<PaneEdge> findPaneEdges(Pix* page, int textHeight);

}  // namespace mivo::ocr
