#include "decoding/exif_orientation.h"

#include <cstdint>
#include <optional>

namespace mivo::ocr {
namespace {

constexpr std::string_view kJpegExifHeader{"Exif\0\0", 6};
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;
constexpr std::uint64_t kEntryBytes = 12;

// Integers of a TIFF structure in its byte order. Every read is checked
// against the end: offsets come from the file.
class TiffReader {
 public:
  TiffReader(std::string_view bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

  [[nodiscard]] std::optional<std::uint16_t> u16(std::uint64_t at) const {
    const std::optional<std::uint32_t> value = read(at, 2);
    return value ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*value)) : std::nullopt;
  }
  [[nodiscard]] std::optional<std::uint32_t> u32(std::uint64_t at) const { return read(at, 4); }

 private:
  [[nodiscard]] std::optional<std::uint32_t> read(std::uint64_t at, std::uint64_t length) const {
    if (at > bytes_.size() || bytes_.size() - at < length) {
      return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::uint64_t index = 0; index < length; ++index) {
      const std::uint64_t byte = bigEndian_ ? at + index : at + length - 1 - index;
      value = (value << 8U) | static_cast<unsigned char>(bytes_[byte]);
    }
    return value;
  }

  std::string_view bytes_;
  bool bigEndian_;
};

std::optional<TiffReader> readerFor(std::string_view tiff) {
  if (tiff.starts_with("MM") || tiff.starts_with("II")) {
    const TiffReader reader(tiff, tiff.starts_with("MM"));
    if (reader.u16(2) == kTiffMagic) {
      return reader;
    }
  }
  return std::nullopt;
}

// The value of a one-number SHORT entry; anything else is not an orientation.
int orientationOfEntry(const TiffReader& reader, std::uint64_t entry) {
  const std::optional<std::uint16_t> value = reader.u16(entry + 8);
  if (reader.u16(entry + 2) != kShortType || reader.u32(entry + 4) != 1U || !value || *value < 1 ||
      *value > 8) {
    return kUprightOrientation;
  }
  return *value;
}

}  // namespace

int exifOrientation(std::string_view exif) {
  if (exif.starts_with(kJpegExifHeader)) {
    exif.remove_prefix(kJpegExifHeader.size());
  }
  const std::optional<TiffReader> reader = readerFor(exif);
  const std::optional<std::uint32_t> directory = reader ? reader->u32(4) : std::nullopt;
  const std::optional<std::uint16_t> entries = directory ? reader->u16(*directory) : std::nullopt;
  if (!entries) {
    return kUprightOrientation;
  }
  for (std::uint64_t index = 0; index < *entries; ++index) {
    const std::uint64_t entry = *directory + 2 + index * kEntryBytes;
    const std::optional<std::uint16_t> tag = reader->u16(entry);
    if (!tag) {
      break;
    }
    if (*tag == kOrientationTag) {
      return orientationOfEntry(*reader, entry);
    }
  }
  return kUprightOrientation;
}

}  // namespace mivo::ocr
