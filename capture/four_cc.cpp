#include "four_cc.h"

namespace mivo::capture {

std::string fourCC(std::int32_t status) {
  const auto bits = static_cast<std::uint32_t>(status);
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>(bits >> shift);
    if (byte < 0x20 || byte > 0x7E) return std::to_string(status);
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

}  // namespace mivo::capture
