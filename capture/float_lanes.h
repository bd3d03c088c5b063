// Eight floats processed together through the compiler's vector
// extensions, for the IO cycle's hot loops: one AVX register, or two SSE or
// NEON ones. Every operation is the exact IEEE one its scalar form would do.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace mivo::capture {

constexpr std::uint32_t kLanes = 8;
using FloatLanes = float __attribute__((vector_size(4 * kLanes)));
using MaskLanes = std::int32_t __attribute__((vector_size(4 * kLanes)));

// Vectors go in and out by reference only: passed by value, 32-byte vectors
// would have a different calling convention with and without AVX.
inline void fill(FloatLanes& lanes, float value) {
  for (std::uint32_t lane = 0; lane < kLanes; ++lane) lanes[lane] = value;
}

inline void load(FloatLanes& lanes, const float* source) {
  std::memcpy(&lanes, source, sizeof lanes);
}

inline void store(float* target, const FloatLanes& lanes) {
  std::memcpy(target, &lanes, sizeof lanes);
}

// The largest magnitude seen, lane by lane. A NaN compares false and so
// never becomes the peak, as in the scalar `if (peak <= |v|) peak = |v|`.
class PeakLanes {
 public:
  void add(const FloatLanes& values) {
    const MaskLanes bits = reinterpret_cast<MaskLanes>(values) & kAbsolute;
    const MaskLanes larger = peaks_ <= reinterpret_cast<FloatLanes>(bits);
    peaks_ = reinterpret_cast<FloatLanes>((bits & larger) |
                                          (reinterpret_cast<MaskLanes>(peaks_) & ~larger));
  }
  // The lanes' maxima combined: the order in which a maximum is found does
  // not change it.
  float peak() const {
    float result = 0;
    for (std::uint32_t lane = 0; lane < kLanes; ++lane)
      if (result <= peaks_[lane]) result = peaks_[lane];
    return result;
  }

 private:
  static constexpr MaskLanes kAbsolute = MaskLanes{} + 0x7fffffff;  // all bits but the sign
  FloatLanes peaks_ = FloatLanes{};
};

inline void updatePeak(float& peak, float value) {
  const float magnitude = std::fabs(value);
  if (peak <= magnitude) peak = magnitude;
}

}  // namespace mivo::capture
