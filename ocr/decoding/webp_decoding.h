#pragma once

#include "decoding/image.h"

#include <string_view>

namespace mivo::ocr {

// A WebP through Leptonica, turned as the orientation in its EXIF chunk asks
// (Leptonica's reader takes only the pixels).
Image decodeWebP(std::string_view bytes);

}  // namespace mivo::ocr
