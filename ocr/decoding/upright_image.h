#pragma once

#include "decoding/image.h"

namespace mivo::ocr {

// The image turned and mirrored as its EXIF orientation (1 to 8) asks, so
// that it stands as people see it; empty when there is no memory to turn it.
Image turnUpright(Image image, int orientation);

}  // namespace mivo::ocr
