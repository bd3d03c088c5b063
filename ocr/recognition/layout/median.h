#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace mivo::ocr {

// Upper median (of an even count, the larger middle value); 0 for no values.
template <typename Number>
Number median(std::vector<Number> values) {
  if (values.empty()) {
    return Number{};
  }
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace mivo::ocr
