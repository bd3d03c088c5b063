#include "recognition/pane_edges.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "decoding/image.h"
#include "recognition/text_line.h"

namespace mivo::ocr {
namespace {

constexpr int kTextHeight = 14;
constexpr int kWidth = 900;
constexpr int kHeight = 600;

void fill(Pix* pix, const PixelBox& box, l_uint32 level) {
  Box* rect = boxCreate(box.left, box.top, box.width(), box.height());
  pixSetInRectArbitrary(pix, rect, level);
  boxDestroy(&rect);
}

Image whitePage() {
  Image page{pixCreate(kWidth, kHeight, 8)};
  pixSetAll(page.get());
  return page;
}

// Rows of word-sized dark marks, as text stands in a pane.
void writeRows(Pix* pix, int left, int right) {
  for (int top = 20; top + kTextHeight < kHeight; top += 2 * kTextHeight) {
    for (int x = left + 10; x + 40 < right; x += 60) {
      fill(pix, PixelBox{x, top, x + 40, top + kTextHeight}, 40);
    }
  }
}

TEST(PaneEdges, ASideBarOfAnotherGroundHasOneEdgeWhereItEnds) {
  const Image page = whitePage();
  fill(page.get(), PixelBox{0, 0, 250, kHeight}, 230);
  writeRows(page.get(), 0, 250);
  writeRows(page.get(), 250, kWidth);
  const std::vector<PaneEdge> edges = findPaneEdges(page.get(), kTextHeight);
  ASSERT_EQ(edges.size(), 1U);
  EXPECT_NEAR(edges[0].x, 250, 3);
  EXPECT_EQ(edges[0].top, 0);
  EXPECT_EQ(edges[0].bottom, kHeight);
}

TEST(PaneEdges, WhatDoesNotDivideAScreenIntoPanesHasNoEdge) {
  struct Case {
    const char* name;
    void (*draw)(Pix*);
  };
  const Case cases[] = {
      {"a rule on one ground",
       [](Pix* pix) {
         fill(pix, PixelBox{400, 0, 401, kHeight}, 150);
       }},
      {"a panel a fifth of the height tall",
       [](Pix* pix) {
         fill(pix, PixelBox{0, 100, 250, 220}, 230);
       }},
      {"a gutter three lines wide",
       [](Pix* pix) {
         fill(pix, PixelBox{0, 0, 3 * kTextHeight, kHeight}, 230);
       }},
      {"grounds that differ by a level",
       [](Pix* pix) {
         fill(pix, PixelBox{0, 0, 250, kHeight}, 254);
       }},
      {"paper with grain",
       [](Pix* pix) {
         for (int y = 0; y < kHeight; ++y) {
           for (int x = 0; x < kWidth; ++x) {
             pixSetPixel(pix, x, y,
                         (x < 250 ? 200 : 240) + static_cast<l_uint32>((x * 7 + y * 13) % 9));
           }
         }
       }},
  };
  for (const Case& test : cases) {
    const Image page = whitePage();
    test.draw(page.get());
    EXPECT_TRUE(findPaneEdges(page.get(), kTextHeight).empty()) << test.name;
  }
}

}  // namespace
}  // namespace mivo::ocr
