#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// A PNG with its declared resolution: 8-bit grey when it has neither colour
// nor transparency, else 32-bit RGB with transparency composed onto white;
// empty when damaged or over the pixel limit. Decoded here rather
// than through Leptonica, whose PNG reader lets the PNG library print to
// standard error and sets no limit on the size of ancillary chunks.
Image decodePng(std::string_view bytes);

}  // namespace mivo::ocr
