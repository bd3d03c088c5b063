#include "recognition/noise_filter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recognition/text_lines.h"

namespace mivo::ocr::testing {
namespace {

using ::testing::ElementsAre;

struct LeadingWordCase {
  const char* name;
  PlacedWord leading;
  bool removed;
};

class LeadingWord : public ::testing::TestWithParam<LeadingWordCase> {};

TEST_P(LeadingWord, IsRemovedOnlyWhenItLooksLikeABulletOrIcon) {
  const std::vector<TextLine> lines{
      makeLine({GetParam().leading, {"Dashboard", 60, 10, 90, 12, 96.0F}})};
  const std::string expected =
      GetParam().removed ? "Dashboard" : GetParam().leading.text + " Dashboard";
  EXPECT_THAT(textsOf(removeNoise(lines)), ElementsAre(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeadingWord,
    ::testing::Values(
        LeadingWordCase{"UnsureSymbol", {"*", 20, 12, 8, 8, 30.0F}, true},
        LeadingWordCase{"UnsureNonAscii", {"\xC2\xAE", 20, 12, 9, 9, 45.0F}, true},
        LeadingWordCase{"UnsureSingleLetter", {"e", 20, 14, 7, 6, 45.0F}, true},
        LeadingWordCase{
            "UnsureTwoCharactersInThreeBytes", {"e\xC2\xA2", 20, 14, 12, 8, 55.0F}, true},
        LeadingWordCase{"SquareIconReadAsDigit", {"0", 20, 8, 16, 16, 58.0F}, true},
        LeadingWordCase{"SureSymbol", {"=", 20, 14, 7, 4, 93.0F}, false},
        LeadingWordCase{"UnsureNumber", {"12", 20, 10, 14, 9, 0.0F}, false},
        LeadingWordCase{"SureShortWord", {"It", 20, 10, 12, 12, 95.0F}, false},
        LeadingWordCase{"UnsureLongerWord", {"Jan", 20, 10, 19, 11, 0.0F}, false},
        LeadingWordCase{"UnsureCyrillicWord", {"\u0414\u043E\u043C", 20, 10, 30, 11, 70.0F}, false},
        LeadingWordCase{
            "UnsureGreekWord", {"\u03A9\u03BC\u03AD\u03B3\u03B1", 20, 10, 50, 11, 70.0F}, false},
        LeadingWordCase{"UnsureAccentedCapital", {"\u00C0", 20, 8, 9, 14, 70.0F}, false},
        LeadingWordCase{"UnsureArabicIndicDigits", {"\u0661\u0662", 20, 10, 14, 9, 0.0F}, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(NoiseFilter, OnlyLeadingWordsAreCandidatesButAStraySignGoesAnywhere) {
  const std::vector<TextLine> lines{
      makeLine({{"Total", 20, 10, 50, 12}, {"*", 80, 12, 8, 8, 30.0F}, {"due", 95, 10, 30, 12}}),
      makeLine({{"Hugo", 20, 30, 40, 12},
                {"\xC2\xA7", 65, 30, 6, 14, 1.0F},
                {"17:26", 80, 30, 40, 12},
                {"#", 130, 30, 8, 12, 2.0F}})};
  EXPECT_THAT(textsOf(removeNoise(lines)), ElementsAre("Total * due", "Hugo 17:26 #"));
}

TEST(NoiseFilter, TallStripIsRemovedButATallLetterIsNot) {
  std::vector<TextLine> lines;
  for (int row = 0; row < 4; ++row) {
    lines.push_back(makeLine({{"word", 40, 10 + row * 20, 40, 10}}));
  }
  lines.push_back(makeLine({{"ONOURWNHHO", 10, 10, 6, 160, 51.0F}}));
  lines.push_back(makeLine({{"I", 200, 10, 6, 30, 96.0F}}));
  EXPECT_THAT(textsOf(removeNoise(lines)), ElementsAre("word", "word", "word", "word", "I"));
}

TEST(NoiseFilter, LeadersAndRulesAreDroppedButEllipsesAndShortDashesStay) {
  std::vector<TextLine> lines;
  for (int row = 0; row < 4; ++row) {
    lines.push_back(makeLine({{"word", 40, 10 + row * 20, 40, 10}}));
  }
  lines.push_back(makeLine({{"Introduction.......", 20, 100, 160, 10},
                            {"\u00B7\u00B7\u00B7\u00B7\u00B7", 190, 100, 100, 3, 40.0F},
                            {"5", 300, 100, 8, 10}}));
  lines.push_back(makeLine({{"SRAAAARAAMAAAARRA", 20, 130, 400, 4, 35.0F}}));
  lines.push_back(makeLine({{"Wait...", 20, 150, 50, 10}, {"\u2026then", 75, 150, 40, 10}}));
  EXPECT_THAT(textsOf(removeNoise(lines)),
              ElementsAre("word", "word", "word", "word", "Introduction 5", "Wait... \u2026then"));
}

// 8 pt under 24 pt: a third of the page's usual height and many times as
// wide, but letters as narrow as any.
TEST(NoiseFilter, SmallPrintUnderLargeTextIsNoRule) {
  std::vector<TextLine> lines;
  for (int row = 0; row < 3; ++row) {
    lines.push_back(makeLine({{"Heading", 40, 10 + row * 60, 200, 36}}));
  }
  lines.push_back(
      makeLine({{"https://www.example.com/reports/2024.pdf", 40, 200, 330, 12, 84.0F}}));
  EXPECT_THAT(textsOf(removeNoise(lines)), ElementsAre("Heading", "Heading", "Heading",
                                                       "https://www.example.com/reports/2024.pdf"));
}

TEST(NoiseFilter, LineOfNoiseOnlyIsDropped) {
  const std::vector<TextLine> lines{makeLine({{"@)", 20, 10, 15, 15, 42.0F}}),
                                    makeLine({{"Keep", 20, 40, 40, 12}})};
  EXPECT_THAT(textsOf(removeNoise(lines)), ElementsAre("Keep"));
}

}  // namespace
}  // namespace mivo::ocr::testing
