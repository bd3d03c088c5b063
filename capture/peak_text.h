// Decimal text of a 32-bit float for the log: the shortest that reads back
// as the same value, with at least one digit after the point ("0.0", "1.0",
// "0.25"); magnitudes below 0.0001 in exponent form ("1.5e-07"). Built in
// place, without the heap, since the IO path logs it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace mivo::capture {

class PeakText {
 public:
  explicit PeakText(float value);
  std::string_view view() const { return {chars_.data(), size_}; }

 private:
  std::array<char, 64> chars_{};
  std::size_t size_ = 0;
};

}  // namespace mivo::capture
