#include "audio/simulated/signals.h"

#include <cmath>
#include <numbers>

namespace mivo::audio::sim {

Signal constantSignal(float value) {
  return [value](std::uint64_t, std::uint32_t) { return value; };
}

Signal sineSignal(double frequency, float amplitude, double sampleRate) {
  const double step = 2 * std::numbers::pi * frequency / sampleRate;
  return [step, amplitude](std::uint64_t frame, std::uint32_t) {
    // Only the phase within one period matters; keeps precision on long runs.
    const double phase = std::fmod(step * double(frame), 2 * std::numbers::pi);
    return amplitude * float(std::sin(phase));
  };
}

}  // namespace mivo::audio::sim
