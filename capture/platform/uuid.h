// Random (version 4) UUIDs and their canonical upper-case text.
#pragma once

#include <array>
#include <string>

namespace mivo::platform {

struct Uuid {
  std::array<unsigned char, 16> bytes{};

  static Uuid random();
  // 36 characters: upper-case hex digits in groups of 8-4-4-4-12.
  std::string canonicalText() const;
};

}  // namespace mivo::platform
