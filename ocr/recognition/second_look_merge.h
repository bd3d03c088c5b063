#pragma once

#include <vector>

#include "recognition/text_line.h"

namespace mivo::ocr {

// Merges the lines of a second look at one region of the page (read from a
// cut whose top left corner is ORIGIN, in the cut's coordinates) into the
// page's LINES. Where both looks read a word at the same place, it is
// judged by confidence and by the share of its own box: a second-look word
// gives way to sure first-look words that cover most of its box; first-look
// words lying mostly inside a kept second-look word and less sure than it
// (fragments of it) give way to it. A sliver never vetoes a whole word.
// Kept lines go in as blocks of their own, before the first line below the
// region.
void mergeSecondLook(std::vector<TextLine> regionLines, const PixelBox& origin,
                     std::vector<TextLine>& lines);

// The boxes of the words in LINES that a second look cannot replace: any
// second-look word at their place gives way to them, so reading them again
// is wasted work.
std::vector<PixelBox> settledWordBoxes(const std::vector<TextLine>& lines);

}  // namespace mivo::ocr
