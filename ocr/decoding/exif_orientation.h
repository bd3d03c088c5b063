#pragma once

#include <string_view>

namespace mivo::ocr {

// Upright: the stored rows are the picture as people see it.
inline constexpr int kUprightOrientation = 1;

// The orientation an EXIF block records in its first directory, numbered
// 1 to 8 as EXIF numbers them. The block is a TIFF structure, with or
// without the "Exif\0\0" header JPEG files put before it. Upright when the
// block is damaged, has no orientation or has one outside 1 to 8.
int exifOrientation(std::string_view exif);

}  // namespace mivo::ocr
