#pragma once

#include <vector>

#include "recognition/text_line.h"

namespace mivo::ocr {

// How far the page's rows rise or fall per pixel across, as the engine's
// baselines show it: a photo held by hand, a receipt, a page fed crooked.
// Each line of two words or more gives the slope of its baseline, weighted
// by its length; the weighted median stands, so a line the engine bent
// across two rows does not move it. 0 when no line shows a slope.
double pageTilt(const std::vector<TextLine>& lines);

// The lines measured in the page's own frame: every word turned about the
// page's origin by TILT so the rows run level, its box the size of the
// word itself rather than of its slanted bounds, its baseline level.
std::vector<TextLine> levelled(std::vector<TextLine> lines, double tilt);

}  // namespace mivo::ocr
