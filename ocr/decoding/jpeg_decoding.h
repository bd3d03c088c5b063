#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// A JPEG (grey, colour or CMYK) as 32-bit RGB; empty when damaged or over
// the pixel limit.
// Decoded here rather than through Leptonica, whose JPEG reader lets the JPEG
// library print warnings to standard error.
Image decodeJpeg(std::string_view bytes);

}  // namespace mivo::ocr
