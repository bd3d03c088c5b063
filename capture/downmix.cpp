#include "downmix.h"

#include <algorithm>
#include <limits>

#include "float_lanes.h"

namespace mivo::capture {
namespace {

using audio::AudioBuffer;

constexpr std::uint32_t kBytesPerSample = sizeof(float);

// The hot loops are also compiled for AVX2, chosen at load time where the
// processor has it; the results are bit-identical. Sanitizer builds keep one
// version: the load-time choice would run before the sanitizer's runtime.
#ifdef MIVO_NO_CPU_DISPATCH
#define MIVO_VECTOR_CLONES
#else
#define MIVO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

void ensureCapacity(std::vector<float>& mono, std::uint32_t frames) {
  if (mono.size() < frames) mono.resize(frames);
}

// Every value is (0 + left + right) / 2, added in that order; the peak is
// taken on the way.
MIVO_VECTOR_CLONES float mixStereo(const float* data, float* mono, std::uint32_t frames) {
  FloatLanes two;
  fill(two, 2.0f);
  PeakLanes lanes;
  std::uint32_t i = 0;
  for (; i + kLanes <= frames; i += kLanes) {
    FloatLanes first, second;
    load(first, data + 2 * i);
    load(second, data + 2 * i + kLanes);
    const FloatLanes left = __builtin_shufflevector(first, second, 0, 2, 4, 6, 8, 10, 12, 14);
    const FloatLanes right = __builtin_shufflevector(first, second, 1, 3, 5, 7, 9, 11, 13, 15);
    const FloatLanes values = (FloatLanes{} + left + right) / two;
    store(mono + i, values);
    lanes.add(values);
  }
  float peak = lanes.peak();
  for (; i < frames; ++i) {
    mono[i] = (0.0f + data[2 * i] + data[2 * i + 1]) / 2.0f;
    updatePeak(peak, mono[i]);
  }
  return peak;
}

// Channels added in ascending order, starting from 0, whatever their count;
// eight frames at a time, each lane gathering its own frame's channel.
MIVO_VECTOR_CLONES float mixChannels(const float* data, float* mono, std::uint32_t frames,
                                     std::uint32_t channels) {
  const float divisor = static_cast<float>(channels);
  FloatLanes divisors;
  fill(divisors, divisor);
  PeakLanes lanes;
  std::uint32_t i = 0;
  for (; i + kLanes <= frames; i += kLanes) {
    const float* block = data + std::size_t{i} * channels;
    FloatLanes sum = FloatLanes{};
    for (std::uint32_t c = 0; c < channels; ++c) {
      FloatLanes channel;
      for (std::uint32_t lane = 0; lane < kLanes; ++lane)
        channel[lane] = block[lane * channels + c];
      sum += channel;
    }
    const FloatLanes values = sum / divisors;
    store(mono + i, values);
    lanes.add(values);
  }
  float peak = lanes.peak();
  for (; i < frames; ++i) {
    const float* frame = data + std::size_t{i} * channels;
    float sum = 0;
    for (std::uint32_t c = 0; c < channels; ++c) sum += frame[c];
    mono[i] = sum / divisor;
    updatePeak(peak, mono[i]);
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
  const auto* data = static_cast<const float*>(buffer.mData);
  const float peak = channels == 2 ? mixStereo(data, mono.data(), frames)
                                   : mixChannels(data, mono.data(), frames, channels);
  return MonoCycle{static_cast<std::int32_t>(frames), peak};
}

// Each value is 0 plus the buffers with data in list order, divided by
// their count; one pass, the peak taken on the way.
MIVO_VECTOR_CLONES float mixPlanar(const AudioBuffer* buffers, std::uint32_t count, float* mono,
                                   std::uint32_t frames, std::uint32_t used) {
  const float divisor = static_cast<float>(used);
  FloatLanes divisors;
  fill(divisors, divisor);
  PeakLanes lanes;
  std::uint32_t j = 0;
  for (; j + kLanes <= frames; j += kLanes) {
    FloatLanes sum = FloatLanes{};
    for (std::uint32_t b = 0; b < count; ++b) {
      if (buffers[b].mData == nullptr) continue;
      FloatLanes samples;
      load(samples, static_cast<const float*>(buffers[b].mData) + j);
      sum += samples;
    }
    const FloatLanes values = sum / divisors;
    store(mono + j, values);
    lanes.add(values);
  }
  float peak = lanes.peak();
  for (; j < frames; ++j) {
    float sum = 0;
    for (std::uint32_t b = 0; b < count; ++b)
      if (buffers[b].mData != nullptr) sum += static_cast<const float*>(buffers[b].mData)[j];
    mono[j] = sum / divisor;
    updatePeak(peak, mono[j]);
  }
  return peak;
}

std::optional<MonoCycle> downmixPlanar(const AudioBuffer* buffers, std::uint32_t count,
                                       std::vector<float>& mono) {
  std::uint32_t frames = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t used = 0;
  for (std::uint32_t b = 0; b < count; ++b) {
    if (buffers[b].mData == nullptr) continue;
    ++used;
    frames = std::min(frames, buffers[b].mDataByteSize / kBytesPerSample);
  }
  if (used == 0 || frames == 0) return std::nullopt;
  ensureCapacity(mono, frames);
  const float peak = mixPlanar(buffers, count, mono.data(), frames, used);
  return MonoCycle{static_cast<std::int32_t>(frames), peak};
}

}  // namespace

std::optional<MonoCycle> downmixToMono(const audio::AudioBufferList& input,
                                       std::vector<float>& mono) {
  if (input.mNumberBuffers == 0 || input.mBuffers == nullptr) return std::nullopt;
  if (input.mNumberBuffers == 1) return downmixInterleaved(input.mBuffers[0], mono);
  return downmixPlanar(input.mBuffers, input.mNumberBuffers, mono);
}

}  // namespace mivo::capture
