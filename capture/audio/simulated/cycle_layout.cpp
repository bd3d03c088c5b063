#include "audio/simulated/cycle_layout.h"

#include <algorithm>
#include <cstring>

namespace mivo::audio::sim {
namespace {

float mixedSample(const std::vector<Signal>& sources, std::uint64_t frame, std::uint32_t channel) {
  float sum = 0;
  for (const auto& source : sources) sum += source(frame, channel);
  return sum;
}

std::uint32_t byteSizeOf(std::size_t sampleCount) {
  return std::uint32_t(sampleCount * sizeof(float));
}

}  // namespace

RenderedCycle::RenderedCycle(std::uint64_t firstFrame) : time_{double(firstFrame), firstFrame} {}

void RenderedCycle::addBuffer(std::uint32_t numberChannels, std::uint32_t dataByteSize,
                              bool nullData, const std::vector<float>& samples) {
  AudioBuffer buffer{numberChannels, dataByteSize, nullptr};
  if (!nullData) {
    // Value-initialised, so bytes past the samples are zero; a 0-byte
    // buffer still gets a non-null pointer.
    auto bytes = std::make_unique<unsigned char[]>(dataByteSize);
    const auto copied = std::min<std::size_t>(dataByteSize, samples.size() * sizeof(float));
    if (copied > 0) std::memcpy(bytes.get(), samples.data(), copied);
    buffer.mData = bytes.get();
    storage_.push_back(std::move(bytes));
  }
  buffers_.push_back(buffer);
}

void RenderedCycle::seal() {
  list_.mNumberBuffers = std::uint32_t(buffers_.size());
  list_.mBuffers = buffers_.empty() ? nullptr : buffers_.data();
}

std::shared_ptr<const RenderedCycle> RenderedCycle::mix(const CycleLayout& layout,
                                                        const std::vector<Signal>& sources,
                                                        std::uint64_t firstFrame) {
  std::shared_ptr<RenderedCycle> cycle(new RenderedCycle(firstFrame));
  const std::uint32_t frames = layout.framesPerCycle;
  auto add = [&](std::uint32_t numberChannels, const std::vector<float>& samples) {
    cycle->addBuffer(numberChannels, layout.dataByteSize.value_or(byteSizeOf(samples.size())),
                     layout.nullData, samples);
  };
  if (layout.kind == CycleLayout::Kind::Interleaved) {
    std::vector<float> samples(std::size_t(frames) * layout.channels);
    for (std::uint32_t i = 0; i < frames; ++i)
      for (std::uint32_t c = 0; c < layout.channels; ++c)
        samples[std::size_t(i) * layout.channels + c] = mixedSample(sources, firstFrame + i, c);
    add(layout.channels, samples);
  } else {
    std::vector<float> samples(frames);
    for (std::uint32_t c = 0; c < layout.channels; ++c) {
      for (std::uint32_t i = 0; i < frames; ++i)
        samples[i] = mixedSample(sources, firstFrame + i, c);
      add(1, samples);
    }
  }
  cycle->seal();
  return cycle;
}

std::shared_ptr<const RenderedCycle> RenderedCycle::exact(const std::vector<ExactBuffer>& buffers,
                                                          std::uint64_t firstFrame) {
  std::shared_ptr<RenderedCycle> cycle(new RenderedCycle(firstFrame));
  for (const auto& buffer : buffers)
    cycle->addBuffer(buffer.numberChannels, buffer.dataByteSize, buffer.nullData, buffer.samples);
  cycle->seal();
  return cycle;
}

}  // namespace mivo::audio::sim
