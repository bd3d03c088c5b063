#include "decoding/image_format.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include <leptonica/allheaders.h>
#include <libheif/heif.h>

namespace mivo::ocr {
namespace {

// Leptonica sniffs a format from the first 12 bytes.
constexpr std::size_t kSniffSize = 12;

// Files whose brand the HEIF library does not list for sure (such as the
// generic "mif1" image brand) come back as "maybe"; the decoder then decides.
bool isSupportedHeif(std::string_view bytes) {
  const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
  const heif_filetype_result type =
      heif_check_filetype(reinterpret_cast<const std::uint8_t*>(bytes.data()), length);
  return type == heif_filetype_yes_supported || type == heif_filetype_maybe;
}

ImageFormat fromLeptonicaFormat(l_int32 format) {
  if (L_FORMAT_IS_TIFF(format)) {
    return ImageFormat::Tiff;
  }
  switch (format) {
    case IFF_PNG:
      return ImageFormat::Png;
    case IFF_JFIF_JPEG:
      return ImageFormat::Jpeg;
    case IFF_BMP:
      return ImageFormat::Bmp;
    case IFF_GIF:
      return ImageFormat::Gif;
    case IFF_WEBP:
      return ImageFormat::WebP;
    case IFF_PNM:
      return ImageFormat::Pnm;
    default:
      return ImageFormat::Unknown;
  }
}

}  // namespace

ImageFormat detectImageFormat(std::string_view bytes) {
  if (isSupportedHeif(bytes)) {
    return ImageFormat::Heif;
  }
  if (bytes.size() < kSniffSize) {
    return ImageFormat::Unknown;
  }
  std::array<l_uint8, kSniffSize> head{};
  std::memcpy(head.data(), bytes.data(), head.size());
  l_int32 format = IFF_UNKNOWN;
  if (findFileFormatBuffer(head.data(), &format) != 0) {
    return ImageFormat::Unknown;
  }
  return fromLeptonicaFormat(format);
}

}  // namespace mivo::ocr
