// Arbitrary buffer lists through one capture's IO cycle: any count of
// buffers, channel numbers, byte sizes and null data. Each buffer's data is
// its own allocation of exactly its byte size, so a read past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/simulated/simulated_audio_system.h"
#include "tap_capture.h"

namespace {

using mivo::audio::AudioBuffer;
using mivo::audio::AudioBufferList;

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t take(std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes && pos_ < size_; ++i)
      value |= std::uint32_t(data_[pos_++]) << (8 * i);
    return value;
  }
  std::size_t remaining() const { return size_ - pos_; }
  const std::uint8_t* here() const { return data_ + pos_; }
  void skip(std::size_t bytes) { pos_ += bytes; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void checkFrame(void*, std::uint8_t source, const float* samples, std::int32_t frames,
                std::int32_t rate) {
  if (source != 0 || samples == nullptr || frames < 1 || rate < 1) std::abort();
  volatile float sum = 0;
  for (std::int32_t i = 0; i < frames; ++i) sum = sum + samples[i];  // every sample is readable
}

mivo::capture::TapCapture& capture() {
  static auto instance = std::make_shared<mivo::capture::TapCapture>(
      mivo::audio::SimulatedAudioSystem::shared(), nullptr, &checkFrame, nullptr);
  return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader input(data, size);
  const std::uint32_t count = input.take(1) % 9;
  std::vector<std::unique_ptr<unsigned char[]>> storage;
  std::vector<AudioBuffer> buffers;
  for (std::uint32_t b = 0; b < count; ++b) {
    const std::uint32_t flags = input.take(1);
    // Mostly small channel counts, sometimes any 32-bit value.
    const std::uint32_t channels = (flags & 0x80) ? input.take(4) : input.take(1) % 9;
    std::uint32_t bytes = input.take(2);
    if (bytes > input.remaining()) bytes = static_cast<std::uint32_t>(input.remaining());
    AudioBuffer buffer{channels, bytes, nullptr};
    if ((flags & 1) == 0) {
      storage.push_back(std::make_unique<unsigned char[]>(bytes == 0 ? 1 : bytes));
      std::memcpy(storage.back().get(), input.here(), bytes);
      buffer.mData = storage.back().get();
    }
    input.skip(bytes);
    buffers.push_back(buffer);
  }
  const AudioBufferList list{count, buffers.data()};
  capture().handleLocked(&list);
  return 0;
}
