#pragma once

#include <string_view>

#include "decoding/image.h"

namespace mivo::ocr {

// The primary image as 32-bit RGB; empty when damaged or over the pixel limit.
Image decodeHeifPrimaryImage(std::string_view bytes);

}  // namespace mivo::ocr
