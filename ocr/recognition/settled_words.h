#pragma once

#include <vector>

#include "recognition/text_line.h"

struct Pix;

namespace mivo::ocr {

// Paints the words of LINES that a second look could not replace (see
// settledWordBoxes) over with the ground of CUT, the part of the page whose
// top left corner is PLACED, so that the second look spends its time on what
// is still unread. TEXT_HEIGHT sets the margin that takes a word's
// anti-aliased edges with it.
void blankSettledWords(Pix* cut, const PixelBox& placed, const std::vector<TextLine>& lines,
                       int textHeight);

}  // namespace mivo::ocr
