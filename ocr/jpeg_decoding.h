#pragma once

#include "image.h"

#include <string_view>

namespace mivo::ocr {

// A JPEG as 32-bit RGB; empty when damaged, over the pixel limit, or in CMYK.
// Decoded here rather than through Leptonica, whose JPEG reader lets the JPEG
// library print warnings to standard error.
Image decodeJpeg(std::string_view bytes);

}  // namespace mivo::ocr
