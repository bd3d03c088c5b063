// Arbitrary bytes as an image file, through the same decoding path as the
// command: read the file, then decode its first image.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "decoding/file_image_decoder.h"

namespace {

const std::string& scratchFile() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("fuzz_ocr_decode." + std::to_string(getpid())))
          .string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static mivo::ocr::FileImageDecoder decoder;
  {
    std::ofstream file(scratchFile(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const auto source = decoder.createSource(scratchFile());
  if (source) {
    decoder.createImageAtIndex0(*source);
  }
  return 0;
}
