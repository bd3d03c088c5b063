#include "recognition/settled_words.h"

#include <algorithm>

#include "recognition/leptonica_handles.h"
#include "recognition/second_look_merge.h"

namespace mivo::ocr {
namespace {

// The grey level most of the cut has: its ground.
l_uint32 groundLevel(Pix* cut) {
  const NumaHandle histogram{pixGetGrayHistogram(cut, 1)};
  l_float32 count = 0;
  l_int32 level = 255;
  if (histogram) {
    numaGetMax(histogram.get(), &count, &level);
  }
  return static_cast<l_uint32>(level);
}

bool overlaps(const PixelBox& a, const PixelBox& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

void blankSettledWords(Pix* cut, const PixelBox& placed, const std::vector<TextLine>& lines,
                       int textHeight) {
  if (cut == nullptr || pixGetDepth(cut) != 8) {
    return;
  }
  const l_uint32 ground = groundLevel(cut);
  const int margin = std::max(1, textHeight / 8);
  for (const PixelBox& word : settledWordBoxes(lines)) {
    if (overlaps(word, placed)) {
      const BoxHandle box{boxCreate(word.left - placed.left - margin,
                                    word.top - placed.top - margin, word.width() + 2 * margin,
                                    word.height() + 2 * margin)};
      pixSetInRectArbitrary(cut, box.get(), ground);
    }
  }
}

}  // namespace mivo::ocr
