#include "decoding/png_decoding.h"

#include "decoding/pixel_limit.h"
#include "decoding/rgb_pix.h"

#include <png.h>

#include <cstddef>
#include <vector>

namespace mivo::ocr {
namespace {

// The simplified reading interface keeps its messages in the image struct.
struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
};

}  // namespace

Image decodePng(std::string_view bytes) {
  PngImage png;
  if (png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size()) == 0 ||
      !fitsPixelLimit(png.image.width, png.image.height)) {
    return Image{};
  }
  png.image.format = PNG_FORMAT_RGB;
  const auto stride = static_cast<std::size_t>(PNG_IMAGE_ROW_STRIDE(png.image));
  std::vector<png_byte> rgb(stride * png.image.height);
  const png_color white{255, 255, 255};
  if (png_image_finish_read(&png.image, &white, rgb.data(), 0, nullptr) == 0) {
    return Image{};
  }
  const auto width = static_cast<int>(png.image.width);
  const auto height = static_cast<int>(png.image.height);
  Image pix = createRgbPix(width, height);
  for (int y = 0; pix && y < height; ++y) {
    copyRgbRowToPix(rgb.data() + static_cast<std::size_t>(y) * stride, y, pix.get());
  }
  return pix;
}

}  // namespace mivo::ocr
