#include "peak_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace mivo::capture {

PeakText::PeakText(float value) {
  const bool tiny = value != 0 && std::fabs(value) < 1e-4f;
  const auto format = tiny ? std::chars_format::scientific : std::chars_format::fixed;
  // Leave room for the ".0" that may be inserted below.
  char* const begin = chars_.data();
  char* end = std::to_chars(begin, begin + chars_.size() - 2, value, format).ptr;
  size_ = static_cast<std::size_t>(end - begin);
  if (!std::isfinite(value) || std::memchr(begin, '.', size_) != nullptr) return;
  char* exponent = static_cast<char*>(std::memchr(begin, 'e', size_));
  char* insertAt = exponent != nullptr ? exponent : end;
  std::memmove(insertAt + 2, insertAt, static_cast<std::size_t>(end - insertAt));
  insertAt[0] = '.';
  insertAt[1] = '0';
  size_ += 2;
}

}  // namespace mivo::capture
