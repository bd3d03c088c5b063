#pragma once

#include <string_view>

namespace mivo::ocr {

enum class ImageFormat { Unknown, Png, Jpeg, Tiff, Bmp, Gif, WebP, Pnm, Heif };

// Recognises a format from the leading bytes of the data.
ImageFormat detectImageFormat(std::string_view bytes);

}  // namespace mivo::ocr
