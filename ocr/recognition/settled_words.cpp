#include "recognition/settled_words.h"

#include <algorithm>

#include "recognition/grey_histogram.h"
#include "recognition/leptonica_handles.h"
#include "recognition/second_look_merge.h"

namespace mivo::ocr {
namespace {

bool overlaps(const PixelBox& a, const PixelBox& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

void blankSettledWords(Pix* cut, const PixelBox& placed, const std::vector<TextLine>& lines,
                       int textHeight) {
  if (cut == nullptr || pixGetDepth(cut) != 8) {
    return;
  }
  const auto ground = static_cast<l_uint32>(groundLevel(cut));
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
