#pragma once

#include <algorithm>
#include <vector>

#include "recognition/layout/median.h"
#include "recognition/text_line.h"

namespace mivo::ocr {

// Runs of this many words or more are running text; table cells, labels,
// values and menu items are shorter.
inline constexpr std::size_t kRunningTextWords = 5;

// Words of one line that stand together, with no wide gap between them.
struct Segment {
  std::vector<RecognizedWord> words;
  PixelBox box;
  double baseline = 0.0;
};

inline PixelBox unite(const PixelBox& a, const PixelBox& b) {
  return PixelBox{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                  std::max(a.bottom, b.bottom)};
}

inline double centreX(const PixelBox& box) { return (box.left + box.right) / 2.0; }
inline double centreY(const PixelBox& box) { return (box.top + box.bottom) / 2.0; }

}  // namespace mivo::ocr
