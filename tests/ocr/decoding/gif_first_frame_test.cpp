#include "decoding/gif_first_frame.h"

#include <gtest/gtest.h>

namespace mivo::ocr {
namespace {

using namespace std::string_literals;

const std::string kHeader = "GIF89a"s;
// 2x1 screen, global colour table of two entries.
const std::string kScreen = "\x02\x00\x01\x00\x80\x00\x00"s + "\x00\x00\x00\xff\xff\xff"s;
const std::string kGraphicControl = "\x21\xf9\x04\x00\x00\x00\x00\x00"s;
// 2x1 frame without local colour table; LZW data in one sub-block.
const std::string kFirstFrame =
    "\x2c\x00\x00\x00\x00\x02\x00\x01\x00\x00"s + "\x02\x02\x4c\x01\x00"s;
// 300x200 frame with a local colour table of four entries.
const std::string kSecondFrame =
    "\x2c\x00\x00\x00\x00\x2c\x01\xc8\x00\x81"s + std::string(12, '\x7f') + "\x02\x01\x00\x00"s;
const std::string kTrailer = "\x3b"s;

TEST(GifFirstFrame, CutsAfterTheFirstFrameAndReportsItsSize) {
  const std::string firstPart = kHeader + kScreen + kGraphicControl + kFirstFrame;
  const auto frame = cutGifToFirstFrame(firstPart + kGraphicControl + kSecondFrame + kTrailer);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->bytes, firstPart + kTrailer);
  EXPECT_EQ(frame->screenWidth, 2);
  EXPECT_EQ(frame->screenHeight, 1);
  EXPECT_EQ(frame->frameWidth, 2);
  EXPECT_EQ(frame->frameHeight, 1);
}

TEST(GifFirstFrame, SkipsALocalColourTable) {
  const auto frame = cutGifToFirstFrame(kHeader + kScreen + kSecondFrame + kTrailer);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->frameWidth, 300);
  EXPECT_EQ(frame->frameHeight, 200);
  EXPECT_EQ(frame->bytes, kHeader + kScreen + kSecondFrame + kTrailer);
}

TEST(GifFirstFrame, RefusesEveryTruncationBeforeTheFrameEnds) {
  const std::string whole = kHeader + kScreen + kGraphicControl + kFirstFrame;
  for (std::size_t length = 0; length < whole.size(); ++length) {
    EXPECT_FALSE(cutGifToFirstFrame(whole.substr(0, length)).has_value()) << length;
  }
}

TEST(GifFirstFrame, RefusesOtherDataAndFilesWithoutAFrame) {
  EXPECT_FALSE(cutGifToFirstFrame("\x89PNG\r\n\x1a\n"s + kScreen).has_value());
  EXPECT_FALSE(cutGifToFirstFrame(kHeader + kScreen + kTrailer).has_value());
}

}  // namespace
}  // namespace mivo::ocr
