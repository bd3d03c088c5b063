#include <unistd.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "decoding/file_image_decoder.h"

namespace mivo::ocr::testing {
namespace {

namespace fs = std::filesystem;

// A light page with a dark bar from column 5 to 13: its edges fall inside
// Leptonica's 4-byte words, where grey bytes in the wrong order would show.
constexpr int kWidth = 24;
constexpr int kHeight = 8;
constexpr int kBarLeft = 5;
constexpr int kBarRight = 13;

Pix* greyPage(int depth) {
  Pix* page = pixCreate(kWidth, kHeight, depth);
  const l_uint32 light = depth == 1 ? 0 : (1U << depth) - 1;
  const l_uint32 dark = depth == 1 ? 1 : 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      pixSetPixel(page, x, y, x >= kBarLeft && x <= kBarRight ? dark : light);
    }
  }
  return page;
}

Pix* colourPage() {
  Pix* grey = greyPage(8);
  Pix* colour = pixConvertTo32(grey);
  pixDestroy(&grey);
  return colour;
}

Pix* palettePage() {
  Pix* grey = greyPage(8);
  Pix* mapped = pixConvertGrayToColormap(grey);
  pixDestroy(&grey);
  return mapped;
}

struct Case {
  const char* name;
  Pix* (*make)();
  l_int32 format;
  int decodedDepth;  // 8: kept grey; 32: RGB
  bool exact;        // lossless
};

const Case kCases[] = {
    {"png_grey_8", [] { return greyPage(8); }, IFF_PNG, 8, true},
    {"png_bilevel", [] { return greyPage(1); }, IFF_PNG, 8, true},
    {"png_grey_16", [] { return greyPage(16); }, IFF_PNG, 8, true},
    {"png_palette", palettePage, IFF_PNG, 32, true},
    {"png_rgb", colourPage, IFF_PNG, 32, true},
    {"jpeg_grey", [] { return greyPage(8); }, IFF_JFIF_JPEG, 8, false},
    {"jpeg_rgb", colourPage, IFF_JFIF_JPEG, 32, false},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class DecodedGreyness : public ::testing::TestWithParam<Case> {};

// Grey pictures stay one byte a pixel (a quarter of the memory of RGB);
// every other keeps its colours; the pixels are where they were drawn.
TEST_P(DecodedGreyness, KeepsGreyPicturesGreyAndEveryPixelInPlace) {
  const Case& c = GetParam();
  const fs::path file =
      fs::temp_directory_path() / ("mivo-grey-" + std::to_string(getpid()) + "-" + c.name);
  Pix* drawn = c.make();
  ASSERT_EQ(pixWrite(file.c_str(), drawn, c.format), 0);
  pixDestroy(&drawn);
  static FileImageDecoder decoder;  // one a run, as in the tool (libheif winds down with it)
  const std::optional<ImageSource> source = decoder.createSource(file.string());
  fs::remove(file);
  ASSERT_TRUE(source);
  const Image image = decoder.createImageAtIndex0(*source);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixGetDepth(image.get()), c.decodedDepth);
  Pix* grey = pixConvertTo8(image.get(), 0);
  const int tolerance = c.exact ? 0 : 40;
  for (int x = 0; x < kWidth; ++x) {
    l_uint32 value = 0;
    pixGetPixel(grey, x, kHeight / 2, &value);
    const bool inBar = x >= kBarLeft && x <= kBarRight;
    EXPECT_NEAR(static_cast<int>(value), inBar ? 0 : 255, tolerance) << "column " << x;
  }
  pixDestroy(&grey);
}

INSTANTIATE_TEST_SUITE_P(GreyAndColourFiles, DecodedGreyness, ::testing::ValuesIn(kCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace mivo::ocr::testing
