#pragma once

#include "decoding/image.h"

namespace mivo::ocr {

// The image as the engine should see it: 8-bit grey (what the engine makes
// of any input), a dark ground turned light, enlarged twice when its text
// is small. The engine reads light text on a dark theme only on a second
// try, each line turned over after it failed the right way round, which
// costs a third of the time on dark code. Screen text of 11-14 px is below
// the size the engine reads best; doubling it cuts word errors markedly.
Image prepareForRecognition(const Image& image);

// Median height in pixels of the glyph-sized dark-on-light (or light-on-
// dark) blobs of a grey image; 0 when there are none.
int medianGlyphHeight(Pix* grey);

}  // namespace mivo::ocr
