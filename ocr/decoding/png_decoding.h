#pragma once

#include "decoding/image.h"

#include <string_view>

namespace mivo::ocr {

// A PNG as 32-bit RGB, transparency composed onto white; empty when damaged
// or over the pixel limit. Decoded here rather than through Leptonica, whose
// PNG reader lets the PNG library print to standard error.
Image decodePng(std::string_view bytes);

}  // namespace mivo::ocr
