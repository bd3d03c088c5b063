#include "recognition/text_contrast.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

namespace mivo::ocr {
namespace {

l_uint32 levelAt(Pix* pix, int x, int y) {
  l_uint32 level = 0;
  pixGetPixel(pix, x, y, &level);
  return level;
}

// White ground, black text at the left, light grey text at the right.
Image screenWithFaintText() {
  Image page{pixCreate(400, 100, 8)};
  pixSetAll(page.get());
  Box* dark = boxCreate(10, 10, 40, 20);
  Box* faint = boxCreate(300, 10, 40, 20);
  pixSetInRectArbitrary(page.get(), dark, 0);
  pixSetInRectArbitrary(page.get(), faint, 150);
  boxDestroy(&dark);
  boxDestroy(&faint);
  return page;
}

TEST(TextContrast, FaintTextOnAFlatGroundBecomesDark) {
  const Image page = screenWithFaintText();
  const Image evened = evenTextContrast(page.get());
  ASSERT_TRUE(evened);
  EXPECT_EQ(levelAt(evened.get(), 200, 50), 255U);  // the ground stays white
  EXPECT_EQ(levelAt(evened.get(), 20, 20), 0U);
  EXPECT_LT(levelAt(evened.get(), 310, 20), 100U);  // was 150: now below any mid threshold
  EXPECT_EQ(levelAt(page.get(), 310, 20), 150U);    // the page itself is left as it was
}

TEST(TextContrast, PaperWithoutAFlatGroundOrTextIsLeftAlone) {
  Image grain{pixCreate(400, 100, 8)};
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 400; ++x) {
      pixSetPixel(grain.get(), x, y, 180 + static_cast<l_uint32>((x * 7 + y * 13) % 60));
    }
  }
  Image blank{pixCreate(400, 100, 8)};
  pixSetAll(blank.get());
  EXPECT_FALSE(evenTextContrast(grain.get()));
  EXPECT_FALSE(evenTextContrast(blank.get()));
}

}  // namespace
}  // namespace mivo::ocr
