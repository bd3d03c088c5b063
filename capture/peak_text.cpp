#include "peak_text.h"

#include <charconv>
#include <cmath>

namespace mivo::capture {

std::string peakText(float value) {
  char digits[64];
  const bool tiny = value != 0 && std::fabs(value) < 1e-4f;
  const auto format = tiny ? std::chars_format::scientific : std::chars_format::fixed;
  const auto end = std::to_chars(digits, digits + sizeof digits, value, format).ptr;
  std::string text(digits, end);
  if (!std::isfinite(value) || text.find('.') != std::string::npos) return text;
  const auto exponent = text.find('e');
  text.insert(exponent == std::string::npos ? text.size() : exponent, ".0");
  return text;
}

}  // namespace mivo::capture
