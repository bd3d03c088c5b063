#include "recognition/text_scale.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

namespace mivo::ocr {
namespace {

Image readTestImage(const char* name) {
  return Image{pixRead((std::string(MIVO_OCR_TEST_DATA) + "/" + name).c_str())};
}

Image halfSize(const Image& image) { return Image{pixScale(image.get(), 0.5F, 0.5F)}; }

Image inverted(const Image& image) { return Image{pixInvert(nullptr, image.get())}; }

TEST(TextScale, GlyphHeightIsFoundForDarkAndLightThemes) {
  const Image page = readTestImage("first_page.png");
  ASSERT_TRUE(page);
  const int height = medianGlyphHeight(page.get());
  EXPECT_GE(height, 13);  // x-height of 28 px text
  EXPECT_LE(height, 24);
  EXPECT_EQ(medianGlyphHeight(inverted(page).get()), height);
}

TEST(TextScale, BlankImageHasNoGlyphs) {
  const Image blank{pixCreate(200, 100, 8)};
  pixSetAll(blank.get());
  EXPECT_EQ(medianGlyphHeight(blank.get()), 0);
}

TEST(TextScale, SmallBlobsMayBeSmallTextAndLargeOnesAreNot) {
  const Image large = readTestImage("first_page.png");
  ASSERT_TRUE(large);
  EXPECT_FALSE(mayHoldSmallText(large.get()));
  EXPECT_TRUE(mayHoldSmallText(halfSize(large).get()));
}

struct EnlargementCase {
  const char* name;
  int lineHeight;
  int width;
  int height;
  double factor;
};

class Enlargement : public ::testing::TestWithParam<EnlargementCase> {};

TEST_P(Enlargement, BringsLinesToTheEngineBestHeightWithinThePixelBound) {
  const Image page{pixCreate(GetParam().width, GetParam().height, 8)};
  EXPECT_NEAR(enlargementFor(GetParam().lineHeight, page.get()), GetParam().factor, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Enlargement,
    ::testing::Values(EnlargementCase{"ScreenText", 15, 1600, 900, 2.0},
                      EnlargementCase{"ScreenAtHalfSize", 7, 800, 450, 4.0},
                      EnlargementCase{"ScreenAtThreeQuarters", 11, 1200, 675, 30.0 / 11},
                      EnlargementCase{"ScanSmallPrint", 28, 2480, 3508, 1.0},
                      EnlargementCase{"NoText", 0, 800, 600, 1.0},
                      EnlargementCase{"BoundedByPixels", 10, 2000, 1500, 2.0},
                      // 6 Mpx plus twice its 0.83 Mpx: 3.04, not the 3.75 wanted.
                      EnlargementCase{"SmallScreenWithinTwiceItsMemory", 8, 1152, 720, 3.04},
                      EnlargementCase{"TooLargeToEnlarge", 12, 4000, 3000, 1.0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(TextScale, DarkGroundIsTurnedLight) {
  const Image page = readTestImage("first_page.png");
  ASSERT_TRUE(page);
  for (const Image& source : {inverted(page), halfSize(page)}) {
    const Image prepared = lightGroundGrey(source);
    ASSERT_TRUE(prepared);
    l_uint32 corner = 0;
    pixGetPixel(prepared.get(), 0, 0, &corner);
    EXPECT_GT(corner, 200U);
  }
}

// A light dialog card over a dimmed screen: most of the page is dark, but
// its text, on the card and on the backdrop alike, is dark already.
TEST(TextScale, LightCardOnDimmedBackdropIsNotTurnedOver) {
  const Image card = readTestImage("first_page.png");
  ASSERT_TRUE(card);
  const int width = pixGetWidth(card.get());
  const int height = pixGetHeight(card.get());
  const Image dimmed{pixCopy(nullptr, card.get())};
  pixMultConstantGray(dimmed.get(), 0.45F);
  const Image screen{pixCreate(2 * width, 3 * height, 8)};
  pixSetAllArbitrary(screen.get(), 115);
  for (int row = 0; row < 3; row += 2) {
    pixRasterop(screen.get(), 0, row * height, width, height, PIX_SRC, dimmed.get(), 0, 0);
    pixRasterop(screen.get(), width, row * height, width, height, PIX_SRC, dimmed.get(), 0, 0);
  }
  pixRasterop(screen.get(), width / 2, height, width, height, PIX_SRC, card.get(), 0, 0);
  const Image prepared = lightGroundGrey(screen);
  ASSERT_TRUE(prepared);
  l_uint32 cardCorner = 0;
  pixGetPixel(prepared.get(), width / 2 + 1, height + 1, &cardCorner);
  EXPECT_GT(cardCorner, 200U);
}

}  // namespace
}  // namespace mivo::ocr
