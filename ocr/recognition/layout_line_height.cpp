#include "recognition/layout_line_height.h"

#include <memory>
#include <vector>

#include <tesseract/baseapi.h>
#include <tesseract/pageiterator.h>

#include "recognition/layout/median.h"

namespace mivo::ocr {
namespace {

// A line shorter than this many of its heights is one or two marks: an
// icon, a bullet, a speck of texture the layout kept as text.
constexpr int kMinLineLengthInHeights = 3;

}  // namespace

int medianLayoutLineHeight(tesseract::TessBaseAPI& api, Pix* page) {
  api.SetPageSegMode(tesseract::PSM_AUTO);
  api.SetImage(page);
  const std::unique_ptr<tesseract::PageIterator> iterator(api.AnalyseLayout());
  std::vector<int> heights;
  if (!iterator) {
    return 0;
  }
  do {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    if (PTIsTextType(iterator->BlockType()) &&
        iterator->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom) &&
        right - left >= kMinLineLengthInHeights * (bottom - top)) {
      heights.push_back(bottom - top);
    }
  } while (iterator->Next(tesseract::RIL_TEXTLINE));
  return median(heights);
}

}  // namespace mivo::ocr
