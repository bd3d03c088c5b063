#include "recognition/second_look_merge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recognition/text_lines.h"

namespace mivo::ocr::testing {
namespace {

using ::testing::ElementsAre;

// A second look at a card at (100, 200); its words in the cut's coordinates.
const PixelBox kCard{100, 200, 400, 260};

std::vector<TextLine> cardReading() {
  return {makeLine({{"Active", 10, 10, 60, 14, 95.0F}, {"users", 80, 10, 50, 14, 92.0F}})};
}

TEST(SecondLookMerge, UnsureFragmentsOfTheFirstLookGiveWayToSureWords) {
  std::vector<TextLine> lines{
      makeLine({{"Dashboard", 100, 100, 120, 20}}),
      makeLine({{"'", 115, 212, 3, 1, 20.0F}, {"~", 185, 214, 4, 2, 46.0F}}),
      makeLine({{"Footer", 100, 300, 80, 14}})};
  mergeSecondLook(cardReading(), kCard, lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("Dashboard", "Active users", "Footer"));
  EXPECT_EQ(lines[1].words[0].box.left, 110);  // in page coordinates
  EXPECT_EQ(lines[1].words[0].baseline, 224);
}

TEST(SecondLookMerge, ASureFirstReadingOfTheSamePlaceStands) {
  std::vector<TextLine> lines{makeLine({{"Active", 108, 209, 64, 16, 90.0F}})};
  mergeSecondLook(cardReading(), kCard, lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("Active", "users"));
}

// Slivers: a small sure word inside a surer one is a piece of it; a word
// that only grazes it stays.
TEST(SecondLookMerge, ASliverOfASureWordVetoesNothing) {
  std::vector<TextLine> lines{
      makeLine({{"Total", 60, 205, 52, 8, 96.0F}, {".", 150, 215, 4, 4, 90.0F}})};
  mergeSecondLook(cardReading(), kCard, lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("Total", "Active users"));
}

TEST(SecondLookMerge, UnsureSecondLookWordsAreDropped) {
  std::vector<TextLine> lines;
  mergeSecondLook({makeLine({{"Active", 10, 10, 60, 14, 95.0F}, {"%", 80, 10, 8, 14, 30.0F}})},
                  kCard, lines);
  EXPECT_THAT(textsOf(lines), ElementsAre("Active"));
}

}  // namespace
}  // namespace mivo::ocr::testing
