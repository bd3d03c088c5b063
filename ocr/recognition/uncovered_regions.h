#pragma once

#include <vector>

#include "recognition/text_line.h"

struct Pix;

namespace mivo::ocr {

// A part of the page where the engine's page layout read nothing although
// something is printed there: a column of numbers it took for a rule or a
// picture, or a band of light text on a dark or coloured ground, which the
// engine's thresholding turns into one dark block.
struct UncoveredRegion {
  PixelBox box;
  bool band = false;         // a ground of its own, to be read without the paper around it
  bool lightOnDark = false;  // read it inverted
};

// Finds such regions outside the boxes of the words already read: glyphs
// in INK (1 bpp, 1 = dark, as the engine thresholded the page), and bands
// whose ground differs from the paper of PAGE (8 bpp grey), which the
// engine's one threshold for the whole page may have lost. TEXT_HEIGHT is
// the height of a line of the page's text in pixels. Rules, speckle and
// line art are not regions; at most a few of the largest are returned.
std::vector<UncoveredRegion> findUncoveredRegions(Pix* ink, Pix* page,
                                                  const std::vector<PixelBox>& read,
                                                  int textHeight);

}  // namespace mivo::ocr
