#include "decoding/heif_decoding.h"

#include <memory>

#include <libheif/heif.h>

#include "decoding/pixel_limit.h"
#include "decoding/rgb_pix.h"

namespace mivo::ocr {
namespace {

struct HeifContextDeleter {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleDeleter {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageDeleter {
  void operator()(heif_image* image) const { heif_image_release(image); }
};

Image copyInterleavedRgbToPix(const heif_image* decoded) {
  const int width = heif_image_get_width(decoded, heif_channel_interleaved);
  const int height = heif_image_get_height(decoded, heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  if (plane == nullptr || !fitsPixelLimit(width, height)) {
    return Image{};
  }
  Image pix = createRgbPix(width, height);
  for (int y = 0; pix && y < height; ++y) {
    copyRgbRowToPix(plane + static_cast<std::ptrdiff_t>(y) * stride, y, pix.get());
  }
  return pix;
}

}  // namespace

Image decodeHeifPrimaryImage(std::string_view bytes) {
  const std::unique_ptr<heif_context, HeifContextDeleter> context{heif_context_alloc()};
  if (!context ||
      heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr)
              .code != heif_error_Ok) {
    return Image{};
  }
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
    return Image{};
  }
  const std::unique_ptr<heif_image_handle, HeifHandleDeleter> handle{rawHandle};
  if (!fitsPixelLimit(heif_image_handle_get_width(handle.get()),
                      heif_image_handle_get_height(handle.get()))) {
    return Image{};
  }
  heif_image* rawImage = nullptr;
  // The default options apply the file's rotation and mirroring (irot,
  // imir), which take the place of an EXIF orientation in HEIF.
  if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                        nullptr)
          .code != heif_error_Ok) {
    return Image{};
  }
  const std::unique_ptr<heif_image, HeifImageDeleter> decoded{rawImage};
  return copyInterleavedRgbToPix(decoded.get());
}

}  // namespace mivo::ocr
