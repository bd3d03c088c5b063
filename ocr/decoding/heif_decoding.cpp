#include "decoding/heif_decoding.h"

#include <memory>

#include <leptonica/allheaders.h>
#include <libheif/heif.h>

#include "decoding/onto_white.h"
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

// Rows of interleaved RGB, or RGBA composed onto white.
Image copyInterleavedRgbToPix(const heif_image* decoded, bool alpha) {
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
    const std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * stride;
    if (alpha) {
      copyRgbaRowToPix(row, y, pix.get());
    } else {
      copyRgbRowToPix(row, y, pix.get());
    }
  }
  if (pix && alpha) {
    pixSetSpp(pix.get(), 4);
  }
  return withoutTransparency(std::move(pix));
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
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  // The default options apply the file's rotation and mirroring (irot,
  // imir), which take the place of an EXIF orientation in HEIF.
  if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
          .code != heif_error_Ok) {
    return Image{};
  }
  const std::unique_ptr<heif_image, HeifImageDeleter> decoded{rawImage};
  return copyInterleavedRgbToPix(decoded.get(), alpha);
}

}  // namespace mivo::ocr
