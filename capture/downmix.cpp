#include "downmix.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mivo::capture {
namespace {

using audio::AudioBuffer;

constexpr std::uint32_t kBytesPerSample = sizeof(float);

void ensureCapacity(std::vector<float>& mono, std::uint32_t frames) {
  if (mono.size() < frames) mono.resize(frames);
}

void updatePeak(float& peak, float value) {
  const float magnitude = std::fabs(value);
  if (peak <= magnitude) peak = magnitude;
}

// The order of additions is fixed (0, then channel 0, 1, ...) so the result
// is the same whatever the channel count; the common layouts get their own
// loops, which the compiler can vectorise.
float mixInterleaved(const float* data, float* mono, std::uint32_t frames, std::uint32_t channels) {
  float peak = 0;
  const float divisor = static_cast<float>(channels);
  if (channels == 1) {
    for (std::uint32_t i = 0; i < frames; ++i) {
      mono[i] = (0.0f + data[i]) / divisor;
      updatePeak(peak, mono[i]);
    }
  } else if (channels == 2) {
    for (std::uint32_t i = 0; i < frames; ++i) {
      mono[i] = (0.0f + data[2 * i] + data[2 * i + 1]) / divisor;
      updatePeak(peak, mono[i]);
    }
  } else {
    for (std::uint32_t i = 0; i < frames; ++i) {
      const float* frame = data + std::size_t{i} * channels;
      float sum = 0;
      for (std::uint32_t c = 0; c < channels; ++c) sum += frame[c];
      mono[i] = sum / divisor;
      updatePeak(peak, mono[i]);
    }
  }
  return peak;
}

std::optional<MonoCycle> downmixInterleaved(const AudioBuffer& buffer, std::vector<float>& mono) {
  if (buffer.mData == nullptr) return std::nullopt;
  const std::uint32_t channels = buffer.mNumberChannels == 0 ? 1 : buffer.mNumberChannels;
  const std::uint32_t samples = buffer.mDataByteSize / kBytesPerSample;
  if (samples < channels) return std::nullopt;
  const std::uint32_t frames = samples / channels;
  ensureCapacity(mono, frames);
  const float peak =
      mixInterleaved(static_cast<const float*>(buffer.mData), mono.data(), frames, channels);
  return MonoCycle{static_cast<std::int32_t>(frames), peak};
}

std::optional<MonoCycle> downmixPlanar(const AudioBuffer* buffers, std::uint32_t count,
                                       std::vector<float>& mono) {
  std::uint32_t frames = std::numeric_limits<std::uint32_t>::max();
  bool anyData = false;
  for (std::uint32_t b = 0; b < count; ++b) {
    if (buffers[b].mData == nullptr) continue;
    anyData = true;
    frames = std::min(frames, buffers[b].mDataByteSize / kBytesPerSample);
  }
  if (!anyData || frames == 0) return std::nullopt;

  ensureCapacity(mono, frames);
  float* out = mono.data();
  std::fill_n(out, frames, 0.0f);
  std::uint32_t used = 0;
  for (std::uint32_t b = 0; b < count; ++b) {
    const auto* data = static_cast<const float*>(buffers[b].mData);
    if (data == nullptr) continue;
    for (std::uint32_t j = 0; j < frames; ++j) out[j] += data[j];
    ++used;
  }
  const float divisor = static_cast<float>(used);
  float peak = 0;
  for (std::uint32_t j = 0; j < frames; ++j) {
    out[j] /= divisor;
    updatePeak(peak, out[j]);
  }
  return MonoCycle{static_cast<std::int32_t>(frames), peak};
}

}  // namespace

std::optional<MonoCycle> downmixToMono(const audio::AudioBufferList& input, std::vector<float>& mono) {
  if (input.mNumberBuffers == 0 || input.mBuffers == nullptr) return std::nullopt;
  if (input.mNumberBuffers == 1) return downmixInterleaved(input.mBuffers[0], mono);
  return downmixPlanar(input.mBuffers, input.mNumberBuffers, mono);
}

}  // namespace mivo::capture
