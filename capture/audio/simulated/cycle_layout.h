// How the simulated system lays out the input buffer list of an IO cycle,
// and the cycle itself once rendered.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "audio/audio_hardware.h"
#include "audio/simulated/signals.h"

namespace mivo::audio::sim {

struct CycleLayout {
  enum class Kind { Interleaved, Planar };
  Kind kind = Kind::Interleaved;
  // Interleaved: channels in the one buffer. Planar: number of one-channel buffers.
  std::uint32_t channels = 2;
  std::uint32_t framesPerCycle = 512;
  // Every buffer with null data (its byte size still reported).
  bool nullData = false;
  // Reported byte size of every buffer instead of the natural one; the data
  // is exactly that long, so reading past it is caught by the sanitizers.
  std::optional<std::uint32_t> dataByteSize;
};

// One buffer of an exact list, for tests that need arbitrary lists.
struct ExactBuffer {
  std::uint32_t numberChannels = 0;
  std::uint32_t dataByteSize = 0;
  bool nullData = false;
  // Copied to the start of the data; bytes beyond them are zero.
  std::vector<float> samples;
};

// A buffer list and the storage behind it. Immutable once made, so one
// cycle can be read on several queues at once.
class RenderedCycle {
 public:
  RenderedCycle(const RenderedCycle&) = delete;
  RenderedCycle& operator=(const RenderedCycle&) = delete;

  const AudioBufferList& list() const { return list_; }
  const AudioTimeStamp& time() const { return time_; }

  // The sources summed at frames firstFrame onwards, laid out as asked.
  static std::shared_ptr<const RenderedCycle> mix(const CycleLayout& layout,
                                                  const std::vector<Signal>& sources,
                                                  std::uint64_t firstFrame);
  static std::shared_ptr<const RenderedCycle> exact(const std::vector<ExactBuffer>& buffers,
                                                    std::uint64_t firstFrame);

 private:
  explicit RenderedCycle(std::uint64_t firstFrame);
  void addBuffer(std::uint32_t numberChannels, std::uint32_t dataByteSize, bool nullData,
                 const std::vector<float>& samples);
  void seal();

  std::vector<std::unique_ptr<unsigned char[]>> storage_;
  std::vector<AudioBuffer> buffers_;
  AudioBufferList list_;
  AudioTimeStamp time_;
};

}  // namespace mivo::audio::sim
