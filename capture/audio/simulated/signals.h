// Sound sources of the simulated world: a signal gives the sample a source
// plays at an absolute frame on a channel. Sources playing together are
// summed.
#pragma once

#include <cstdint>
#include <functional>

namespace mivo::audio::sim {

using Signal = std::function<float(std::uint64_t frame, std::uint32_t channel)>;

Signal constantSignal(float value);
// amplitude * sin(2π · frequency · frame / sampleRate), the same on every channel.
Signal sineSignal(double frequency, float amplitude, double sampleRate);

}  // namespace mivo::audio::sim
