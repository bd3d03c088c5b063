#pragma once

#include <functional>
#include <ranges>
#include <string>

namespace mivo::ocr {

// The lines' texts as one text, with a line feed between each two.
template <std::ranges::input_range Lines, typename Text = std::identity>
std::string joinLines(const Lines& lines, Text textOf = {}) {
  std::string text;
  bool first = true;
  for (const auto& line : lines) {
    if (!first) {
      text += '\n';
    }
    text += std::invoke(textOf, line);
    first = false;
  }
  return text;
}

}  // namespace mivo::ocr
