#pragma once

#include "decoding/image.h"

namespace mivo::ocr {

// Transparent pixels show the page behind them: white. Text drawn on a
// transparent ground keeps whatever colour its encoder left there, often
// black. For a 32-bit image in Leptonica's RGBA layout (alpha in the low
// byte).
void composeOntoWhite(Pix* pix);

// The image with its alpha channel, or the transparent entries of its
// colour map, composed onto white; an image without either as it is.
Image withoutTransparency(Image image);

}  // namespace mivo::ocr
