#pragma once

#include "decoding/image_decoder.h"

namespace mivo::ocr {

// Reads image files from disk: HEIF through libheif, the rest through
// Leptonica.
class FileImageDecoder final : public ImageDecoder {
 public:
  FileImageDecoder();
  ~FileImageDecoder() override;
  FileImageDecoder(const FileImageDecoder&) = delete;
  FileImageDecoder& operator=(const FileImageDecoder&) = delete;

  std::optional<ImageSource> createSource(const std::string& path) override;
  Image createImageAtIndex0(const ImageSource& source) override;
};

}  // namespace mivo::ocr
