#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// A WebP through Leptonica, turned as the orientation in its EXIF chunk asks
// (Leptonica's reader takes only the pixels).
Image decodeWebP(std::string_view bytes);

}  // namespace mivo::ocr
