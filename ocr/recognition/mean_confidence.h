#pragma once

#include <functional>
#include <ranges>

namespace mivo::ocr {

// The mean of the items' confidences; 0 for no items. Summed in 32-bit
// floats on purpose: the rounded mean the tool prints is compared with that
// of other builds of it, which sum the same way.
template <std::ranges::sized_range Items, typename Confidence = std::identity>
double meanConfidence(const Items& items, Confidence confidenceOf = {}) {
  if (std::ranges::empty(items)) {
    return 0.0;
  }
  float sum = 0.0F;
  for (const auto& item : items) {
    sum += std::invoke(confidenceOf, item);
  }
  return static_cast<double>(sum) / static_cast<double>(std::ranges::size(items));
}

}  // namespace mivo::ocr
