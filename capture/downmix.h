// Turns one IO cycle's input buffers into mono samples.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "audio/audio_hardware.h"

namespace mivo::capture {

struct MonoCycle {
  std::int32_t frames = 0;  // at least 1
  float peak = 0;           // largest magnitude of the mono output; NaN never counts
};

// One buffer: interleaved channels, averaged per frame. Several buffers: one
// channel each, averaged per index over the buffers that have data. Writes
// frames samples to the front of mono, growing it only when it is too short.
// nullopt for a cycle that holds no usable frame.
std::optional<MonoCycle> downmixToMono(const audio::AudioBufferList& input,
                                       std::vector<float>& mono);

}  // namespace mivo::capture
