#pragma once

#include <optional>
#include <string>

#include "decoding/image.h"

namespace mivo::ocr {

// The encoded bytes of an image file, read but not yet decoded.
struct ImageSource {
  std::string bytes;
};

class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  // None when the file cannot be read (a directory, no permission, over
  // 1 GiB).
  virtual std::optional<ImageSource> createSource(const std::string& path) = 0;
  // The first image of the file, turned as the file's orientation says;
  // empty for unknown formats, damaged data or images too large to decode.
  virtual Image createImageAtIndex0(const ImageSource& source) = 0;
};

}  // namespace mivo::ocr
