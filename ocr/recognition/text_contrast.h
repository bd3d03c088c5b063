#pragma once

#include "decoding/image.h"

namespace mivo::ocr {

// A rendered screen (8-bit grey, dark text on a light ground) with its
// fainter text made as dark as its main text: grey comments, dim secondary
// labels and muted syntax colours are meant to be read, but the engine
// finds lines on one threshold for the whole page and loses them. The
// ground and everything up to half the way to the darkest text keep their
// order of shades; beyond that all is black. Light rules and shading turn
// dark as well, so this is for finding faint text, not for the page as a
// whole. Empty when the ground is not flat (photographs, most scans, where
// faint marks are show-through and stains more often than text) or there
// is no text to even out.
Image evenTextContrast(Pix* grey);

}  // namespace mivo::ocr
