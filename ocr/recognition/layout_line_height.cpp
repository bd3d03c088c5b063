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
constexpr const char* kFindTables = "textord_tabfind_find_tables";

}  // namespace

int medianLayoutLineHeight(tesseract::TessBaseAPI& api, Pix* page) {
  api.SetPageSegMode(tesseract::PSM_AUTO);
  api.SetImage(page);
  // Lines are lines inside a table too. The engine's table finder compares
  // every column part with every other, which on a grid with speckle (a
  // recompressed spreadsheet) takes longer than reading the page.
  api.SetVariable(kFindTables, "0");
  const std::unique_ptr<tesseract::PageIterator> iterator(api.AnalyseLayout());
  api.SetVariable(kFindTables, "1");
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
