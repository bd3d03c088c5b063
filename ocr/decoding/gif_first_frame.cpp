#include "decoding/gif_first_frame.h"

#include <cstddef>
#include <cstdint>

namespace mivo::ocr {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kScreenDescriptorSize = 7;
constexpr std::size_t kImageDescriptorSize = 10;  // separator included
constexpr unsigned char kExtensionIntroducer = 0x21;
constexpr unsigned char kImageSeparator = 0x2C;
constexpr unsigned char kGraphicControlLabel = 0xF9;
constexpr std::size_t kGraphicControlSize = 7;  // introducer, label, size, four bytes of data
constexpr char kTrailer = 0x3B;

class GifReader {
 public:
  explicit GifReader(std::string_view data) : data_(data) {}

  [[nodiscard]] std::size_t position() const { return position_; }
  [[nodiscard]] bool has(std::size_t count) const { return data_.size() - position_ >= count; }

  unsigned byteAt(std::size_t offset) const {
    return static_cast<unsigned char>(data_[position_ + offset]);
  }
  int littleEndian16At(std::size_t offset) const {
    return static_cast<int>(byteAt(offset) | (byteAt(offset + 1) << 8U));
  }
  bool skip(std::size_t count) {
    if (!has(count)) {
      return false;
    }
    position_ += count;
    return true;
  }
  // Colour tables follow a packed field whose top bit says "present" and
  // whose low three bits give the size.
  bool skipColourTable(unsigned packed) {
    if ((packed & 0x80U) == 0) {
      return true;
    }
    return skip(3U * (2U << (packed & 0x07U)));
  }
  bool skipSubBlocks() {
    while (has(1)) {
      const unsigned length = byteAt(0);
      if (!skip(1 + length)) {
        return false;
      }
      if (length == 0) {
        return true;
      }
    }
    return false;
  }

 private:
  std::string_view data_;
  std::size_t position_ = 0;
};

}  // namespace

std::optional<GifFirstFrame> cutGifToFirstFrame(std::string_view gif) {
  if (!gif.starts_with("GIF87a") && !gif.starts_with("GIF89a")) {
    return std::nullopt;
  }
  GifReader reader(gif);
  reader.skip(kHeaderSize);
  if (!reader.has(kScreenDescriptorSize)) {
    return std::nullopt;
  }
  GifFirstFrame frame;
  frame.screenWidth = reader.littleEndian16At(0);
  frame.screenHeight = reader.littleEndian16At(2);
  const unsigned screenPacked = reader.byteAt(4);
  if (!reader.skip(kScreenDescriptorSize) || !reader.skipColourTable(screenPacked)) {
    return std::nullopt;
  }
  while (reader.has(1) && reader.byteAt(0) == kExtensionIntroducer) {
    // A graphic control block may name a transparent colour: bit 0 of its
    // packed byte says so, its fourth data byte is the index.
    if (reader.has(kGraphicControlSize) && reader.byteAt(1) == kGraphicControlLabel &&
        (reader.byteAt(3) & 0x01U) != 0) {
      frame.transparentIndex = static_cast<int>(reader.byteAt(6));
    }
    if (!reader.skip(2) || !reader.skipSubBlocks()) {
      return std::nullopt;
    }
  }
  if (!reader.has(kImageDescriptorSize) || reader.byteAt(0) != kImageSeparator) {
    return std::nullopt;
  }
  frame.frameWidth = reader.littleEndian16At(5);
  frame.frameHeight = reader.littleEndian16At(7);
  const unsigned imagePacked = reader.byteAt(9);
  const bool frameComplete = reader.skip(kImageDescriptorSize) &&
                             reader.skipColourTable(imagePacked) &&
                             reader.skip(1) &&  // LZW minimum code size
                             reader.skipSubBlocks();
  if (!frameComplete) {
    return std::nullopt;
  }
  frame.bytes.assign(gif.substr(0, reader.position()));
  frame.bytes += kTrailer;
  return frame;
}

}  // namespace mivo::ocr
