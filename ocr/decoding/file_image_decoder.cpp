#include "decoding/file_image_decoder.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <libheif/heif.h>

#include "decoding/heif_decoding.h"
#include "decoding/image_format.h"
#include "decoding/jpeg_decoding.h"
#include "decoding/leptonica_decoding.h"
#include "decoding/png_decoding.h"
#include "decoding/webp_decoding.h"

namespace mivo::ocr {
namespace {

// The whole file is read into memory. No image within the pixel limit needs
// more than this, even uncompressed at 16 bits per channel with alpha.
constexpr std::uintmax_t kMaxFileBytes = 1ULL << 30;

}  // namespace

FileImageDecoder::FileImageDecoder() {
  heif_init(nullptr);
  silenceLeptonica();
}

FileImageDecoder::~FileImageDecoder() { heif_deinit(); }

std::optional<ImageSource> FileImageDecoder::createSource(const std::string& path) {
  // Only regular files: a directory has no bytes, and a FIFO or device could
  // block or never end.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) ||
      std::filesystem::file_size(path, error) > kMaxFileBytes || error) {
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  ImageSource source;
  source.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    return std::nullopt;
  }
  return source;
}

Image FileImageDecoder::createImageAtIndex0(const ImageSource& source) {
  switch (detectImageFormat(source.bytes)) {
    case ImageFormat::Heif:
      return decodeHeifPrimaryImage(source.bytes);
    case ImageFormat::Png:
      return decodePng(source.bytes);
    case ImageFormat::Jpeg:
      return decodeJpeg(source.bytes);
    case ImageFormat::Gif:
      return decodeGifFirstFrame(source.bytes);
    case ImageFormat::WebP:
      return decodeWebP(source.bytes);
    // Leptonica turns a TIFF as its orientation tag asks.
    case ImageFormat::Tiff:
    case ImageFormat::Bmp:
    case ImageFormat::Pnm:
      return decodeWithLeptonica(source.bytes);
    case ImageFormat::Unknown:
      break;
  }
  return Image{};
}

}  // namespace mivo::ocr
