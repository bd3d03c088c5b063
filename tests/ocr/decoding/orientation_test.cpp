#include <unistd.h>

#include <filesystem>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "decoding/file_image_decoder.h"
#include "test_images.h"

namespace mivo::ocr::testing {
namespace {

namespace fs = std::filesystem;

// The picture as people see it: wider than tall, with a dark square in the
// top left corner and light everywhere else. Its size and the corner of the
// square tell all eight orientations apart.
constexpr int kWidth = 64;
constexpr int kHeight = 32;
constexpr int kSquare = 16;

enum class Corner { TopLeft, TopRight, BottomRight, BottomLeft };

// How a file stores that picture for each EXIF orientation, which says what
// the stored first row and first column show: 6, for instance, keeps the
// picture's left edge in the last stored row.
struct StoredPicture {
  int orientation;
  bool turned;  // stored tall: rows and columns swapped
  Corner square;
};

constexpr StoredPicture kStoredPictures[] = {
    {1, false, Corner::TopLeft},    {2, false, Corner::TopRight}, {3, false, Corner::BottomRight},
    {4, false, Corner::BottomLeft}, {5, true, Corner::TopLeft},   {6, true, Corner::BottomLeft},
    {7, true, Corner::BottomRight}, {8, true, Corner::TopRight}};

struct BoxDeleter {
  void operator()(BOX* box) const { boxDestroy(&box); }
};

// The square at `corner` of a picture of that size.
std::unique_ptr<BOX, BoxDeleter> cornerSquare(int width, int height, Corner corner) {
  const bool right = corner == Corner::TopRight || corner == Corner::BottomRight;
  const bool bottom = corner == Corner::BottomLeft || corner == Corner::BottomRight;
  return std::unique_ptr<BOX, BoxDeleter>{
      boxCreate(right ? width - kSquare : 0, bottom ? height - kSquare : 0, kSquare, kSquare)};
}

Image storedPixels(const StoredPicture& stored) {
  const int width = stored.turned ? kHeight : kWidth;
  const int height = stored.turned ? kWidth : kHeight;
  Image pix{pixCreate(width, height, 32)};
  pixSetAll(pix.get());
  pixClearInRect(pix.get(), cornerSquare(width, height, stored.square).get());
  return pix;
}

double greyLevelAt(Pix* pix, Corner corner) {
  const Image grey{pixConvertTo8(pix, 0)};
  const Image square{pixClipRectangle(
      grey.get(), cornerSquare(pixGetWidth(pix), pixGetHeight(pix), corner).get(), nullptr)};
  l_float32 mean = 0;
  pixGetAverageMasked(square.get(), nullptr, 0, 0, 1, L_MEAN_ABSVAL, &mean);
  return mean;
}

class DecodedOrientation : public ::testing::TestWithParam<std::tuple<const char*, StoredPicture>> {
};

TEST_P(DecodedOrientation, StandsAsPeopleSeeIt) {
  const auto& [format, stored] = GetParam();
  const fs::path file =
      fs::temp_directory_path() / ("mivo-orientation-" + std::to_string(getpid()) + "." + format);
  writeWithOrientation(storedPixels(stored).get(), format, stored.orientation, file);
  // One decoder for the whole run, as in the tool: its end winds libheif
  // down, and with it the encoder the next case writes with.
  static FileImageDecoder decoder;
  const std::optional<ImageSource> source = decoder.createSource(file.string());
  fs::remove(file);
  ASSERT_TRUE(source);
  const Image image = decoder.createImageAtIndex0(*source);
  ASSERT_TRUE(image);
  ASSERT_EQ(pixGetWidth(image.get()), kWidth);
  ASSERT_EQ(pixGetHeight(image.get()), kHeight);
  EXPECT_LT(greyLevelAt(image.get(), Corner::TopLeft), 64);
  for (const Corner light : {Corner::TopRight, Corner::BottomRight, Corner::BottomLeft}) {
    EXPECT_GT(greyLevelAt(image.get(), light), 192);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOrientationOfEveryFormatThatRecordsOne, DecodedOrientation,
                         ::testing::Combine(::testing::Values("jpg", "png", "webp", "tif", "heic"),
                                            ::testing::ValuesIn(kStoredPictures)),
                         [](const auto& testCase) {
                           return std::string(std::get<0>(testCase.param)) + "_" +
                                  std::to_string(std::get<1>(testCase.param).orientation);
                         });

}  // namespace
}  // namespace mivo::ocr::testing
