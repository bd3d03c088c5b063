#include "recognition/uncovered_regions.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "decoding/image.h"

namespace mivo::ocr {
namespace {

constexpr int kTextHeight = 20;

// A white page drawn with grey rectangles; INK is the engine's view of it:
// every pixel darker than mid-grey is ink.
struct Page {
  Image grey{pixCreate(800, 600, 8)};
  Page() { pixSetAll(grey.get()); }

  void fill(const PixelBox& box, l_uint32 level) {
    Box* rect = boxCreate(box.left, box.top, box.width(), box.height());
    pixSetInRectArbitrary(grey.get(), rect, level);
    boxDestroy(&rect);
  }
  // Digit-sized marks in a column, one per line.
  void column(int left, int top, int lines, l_uint32 level = 0) {
    for (int line = 0; line < lines; ++line) {
      fill(PixelBox{left, top + line * 30, left + 12, top + line * 30 + kTextHeight}, level);
      fill(PixelBox{left + 16, top + line * 30, left + 28, top + line * 30 + kTextHeight}, level);
    }
  }
  std::vector<UncoveredRegion> regions(const std::vector<PixelBox>& read = {}) {
    const Image ink{pixThresholdToBinary(grey.get(), 128)};
    return findUncoveredRegions(ink.get(), grey.get(), read, kTextHeight);
  }
};

bool contains(const PixelBox& outer, const PixelBox& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

TEST(UncoveredRegions, AColumnOfGlyphsNobodyReadIsOneRegion) {
  Page page;
  page.column(100, 50, 10);
  const auto regions = page.regions();
  ASSERT_EQ(regions.size(), 1U);
  EXPECT_FALSE(regions[0].band);
  EXPECT_TRUE(contains(regions[0].box, PixelBox{100, 50, 128, 340}));
}

TEST(UncoveredRegions, GlyphsAlreadyReadLeaveNothing) {
  Page page;
  page.column(100, 50, 10);
  EXPECT_TRUE(page.regions({PixelBox{98, 48, 130, 342}}).empty());
}

// A grey band is solid ink to the engine whichever its text's colour.
TEST(UncoveredRegions, BandsOfAnotherGroundAreReadTheRightWayUp) {
  struct Case {
    const char* name;
    l_uint32 ground;
    l_uint32 text;
    bool lightOnDark;
  };
  for (const Case& c : {Case{"dark text on mid grey", 127, 0, false},
                        Case{"white text on dark blue's grey", 60, 255, true},
                        Case{"dark text on a light tint", 200, 40, false}}) {
    Page page;
    page.fill(PixelBox{50, 100, 650, 220}, c.ground);
    page.column(80, 120, 3, c.text);
    page.column(300, 120, 3, c.text);
    const auto regions = page.regions();
    ASSERT_EQ(regions.size(), 1U) << c.name;
    EXPECT_TRUE(regions[0].band) << c.name;
    EXPECT_EQ(regions[0].lightOnDark, c.lightOnDark) << c.name;
    EXPECT_TRUE(contains(regions[0].box, PixelBox{50, 100, 650, 220})) << c.name;
  }
}

TEST(UncoveredRegions, RulesSpeckleLoneMarksAndADarkThemeAreNotRegions) {
  Page rules;
  rules.fill(PixelBox{20, 300, 780, 303}, 0);   // a table rule
  rules.fill(PixelBox{400, 20, 403, 580}, 0);   // a column rule
  rules.fill(PixelBox{600, 100, 603, 103}, 0);  // a speck
  rules.fill(PixelBox{700, 500, 716, 516}, 0);  // an icon on its own
  EXPECT_TRUE(rules.regions().empty());

  Page dark;
  dark.fill(PixelBox{0, 0, 800, 600}, 30);
  dark.column(100, 50, 10, 230);
  EXPECT_TRUE(dark.regions({PixelBox{98, 48, 130, 342}}).empty());
}

}  // namespace
}  // namespace mivo::ocr
