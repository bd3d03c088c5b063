#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// A PNG as 32-bit RGB with its declared resolution, transparency composed
// onto white; empty when damaged or over the pixel limit. Decoded here rather
// than through Leptonica, whose PNG reader lets the PNG library print to
// standard error and sets no limit on the size of ancillary chunks.
Image decodePng(std::string_view bytes);

}  // namespace mivo::ocr
