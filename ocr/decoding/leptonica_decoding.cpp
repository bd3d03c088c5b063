#include "decoding/leptonica_decoding.h"

#include <tiffio.h>

#include <leptonica/allheaders.h>

#include "decoding/gif_first_frame.h"
#include "decoding/onto_white.h"
#include "decoding/pixel_limit.h"

namespace mivo::ocr {
namespace {

const l_uint8* asBytes(std::string_view data) {
  return reinterpret_cast<const l_uint8*>(data.data());
}

void discardMessage(const char* /*message*/) {}

}  // namespace

Image decodeWithLeptonica(std::string_view bytes) {
  l_int32 format = IFF_UNKNOWN;
  l_int32 width = 0;
  l_int32 height = 0;
  if (pixReadHeaderMem(asBytes(bytes), bytes.size(), &format, &width, &height, nullptr, nullptr,
                       nullptr) != 0 ||
      !fitsPixelLimit(width, height)) {
    return Image{};
  }
  // For TIFF this reads page 0 only.
  return withoutTransparency(Image{pixReadMem(asBytes(bytes), bytes.size())});
}

Image decodeGifFirstFrame(std::string_view bytes) {
  const std::optional<GifFirstFrame> frame = cutGifToFirstFrame(bytes);
  if (!frame || !fitsPixelLimit(frame->screenWidth, frame->screenHeight) ||
      !fitsPixelLimit(frame->frameWidth, frame->frameHeight)) {
    return Image{};
  }
  Image image{pixReadMem(asBytes(frame->bytes), frame->bytes.size())};
  PIXCMAP* colours = image ? pixGetColormap(image.get()) : nullptr;
  if (colours != nullptr && frame->transparentIndex >= 0) {
    pixcmapSetAlpha(colours, frame->transparentIndex, 0);
  }
  return withoutTransparency(std::move(image));
}

void silenceLeptonica() {
  setMsgSeverity(L_SEVERITY_NONE);
  // Some readers print unconditionally, through this hook.
  leptSetStderrHandler(discardMessage);
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
}

}  // namespace mivo::ocr
