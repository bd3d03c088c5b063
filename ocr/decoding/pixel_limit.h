#pragma once

#include <cstdint>

namespace mivo::ocr {

// Largest image decoded: 100 megapixels (400 MB as 32-bit pixels). A file of
// a few hundred bytes can declare far more; such images are refused before
// any pixel memory is taken.
inline constexpr std::int64_t kMaxImagePixels = 100'000'000;

inline bool fitsPixelLimit(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImagePixels / height;
}

}  // namespace mivo::ocr
