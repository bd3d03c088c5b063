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

TEST(TextScale, SmallTextIsEnlargedTwiceAndLargeTextIsNot) {
  const Image large = readTestImage("first_page.png");
  const Image small = halfSize(large);
  const Image preparedLarge = prepareForRecognition(large);
  const Image preparedSmall = prepareForRecognition(small);
  ASSERT_TRUE(preparedLarge && preparedSmall);
  EXPECT_EQ(pixGetWidth(preparedLarge.get()), pixGetWidth(large.get()));
  EXPECT_EQ(pixGetWidth(preparedSmall.get()), 2 * pixGetWidth(small.get()));
  EXPECT_EQ(pixGetDepth(preparedSmall.get()), 8);
}

TEST(TextScale, DarkGroundIsTurnedLight) {
  const Image page = readTestImage("first_page.png");
  ASSERT_TRUE(page);
  for (const Image& source : {inverted(page), halfSize(inverted(page))}) {
    const Image prepared = prepareForRecognition(source);
    ASSERT_TRUE(prepared);
    l_uint32 corner = 0;
    pixGetPixel(prepared.get(), 0, 0, &corner);
    EXPECT_GT(corner, 200U);
  }
}

}  // namespace
}  // namespace mivo::ocr
