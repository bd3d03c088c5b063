#include "recognition/settled_words.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "decoding/image.h"
#include "recognition/text_lines.h"

namespace mivo::ocr::testing {
namespace {

// A cut of the page at (100, 200), 300 x 60, on a dark ground (a band read
// inverted has its ground anywhere on the scale).
const PixelBox kPlaced{100, 200, 400, 260};
constexpr l_uint32 kGround = 40;
constexpr l_uint32 kInk = 230;
constexpr int kTextHeight = 16;

l_uint32 levelAt(Pix* pix, int x, int y) {
  l_uint32 level = 0;
  pixGetPixel(pix, x, y, &level);
  return level;
}

// Each word is drawn where the page has it; after blanking, its middle
// (inside the cut) is ground or still ink.
TEST(SettledWords, OnlySureWordsAreBlankedWhereTheCutHasThem) {
  struct Case {
    const char* name;
    PlacedWord word;  // in page coordinates
    bool blanked;
  };
  const Case cases[] = {
      {"sure", {"Server", 120, 210, 60, 14, 90.0F}, true},
      {"unsure: the second look may read it better", {"~", 200, 210, 20, 14, 40.0F}, false},
      {"sure, across the cut's left edge", {"URL", 90, 230, 30, 14, 95.0F}, true},
      {"sure, across the cut's bottom edge", {"Add", 300, 250, 40, 14, 95.0F}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Image cut{pixCreate(kPlaced.width(), kPlaced.height(), 8)};
    pixSetAllArbitrary(cut.get(), kGround);
    const PlacedWord& w = c.word;
    const int left = std::max(0, w.left - kPlaced.left);
    const int top = std::max(0, w.top - kPlaced.top);
    Box* rect = boxCreate(left, top, w.left + w.width - kPlaced.left - left,
                          w.top + w.height - kPlaced.top - top);
    pixSetInRectArbitrary(cut.get(), rect, kInk);
    boxDestroy(&rect);
    // Ink just outside the word's margin is another word's.
    const int beside = w.left + w.width - kPlaced.left + kTextHeight / 2;
    pixSetPixel(cut.get(), beside, top + 2, kInk);

    blankSettledWords(cut.get(), kPlaced, {makeLine({w})}, kTextHeight);

    EXPECT_EQ(levelAt(cut.get(), left + 1, top + 1), c.blanked ? kGround : kInk);
    EXPECT_EQ(levelAt(cut.get(), beside, top + 2), kInk);
  }
}

TEST(SettledWords, WordsOutsideTheCutChangeNothing) {
  const Image cut{pixCreate(kPlaced.width(), kPlaced.height(), 8)};
  pixSetAllArbitrary(cut.get(), kGround);
  const Image before{pixCopy(nullptr, cut.get())};
  blankSettledWords(cut.get(), kPlaced,
                    {makeLine({{"Footer", 100, 300, 80, 14}, {"Menu", 0, 0, 50, 14}})},
                    kTextHeight);
  l_int32 same = 0;
  pixEqual(cut.get(), before.get(), &same);
  EXPECT_EQ(same, 1);
}

}  // namespace
}  // namespace mivo::ocr::testing
