#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// TIFF (page 0), BMP, WebP and PNM through Leptonica; empty when the data is
// damaged or declares more pixels than the limit.
Image decodeWithLeptonica(std::string_view bytes);

// GIF frame 0 through Leptonica; later frames are never read.
Image decodeGifFirstFrame(std::string_view bytes);

// Leptonica and the TIFF library underneath it print diagnostics unless told
// not to.
void silenceLeptonica();

}  // namespace mivo::ocr
