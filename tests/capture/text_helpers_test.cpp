// The small text helpers of the log and the follower.
#include <cstdlib>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "four_cc.h"
#include "peak_text.h"
#include "uid_equality.h"

namespace mivo::capture {
namespace {

struct FourCCCase {
  std::int32_t status;
  const char* text;
};

TEST(FourCC, RendersPrintableBytesOrSignedDecimal) {
  const FourCCCase cases[] = {
      {0x73746f70, "stop"},  // 'stop'
      {0x21686f67, "!hog"},  // punctuation is printable
      {0x20202020, "    "},  // space is the lowest printable byte
      {0x7e7e7e7e, "~~~~"},  // tilde the highest
      {0, "0"},
      {-50, "-50"},
      {0x1f414243, "524370499"},   // one control byte spoils it
      {0x7f414243, "2134983235"},  // DEL is not printable
      {0x4142437f, "1094861695"},
      {std::numeric_limits<std::int32_t>::min(), "-2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(fourCC(c.status), c.text) << c.status;
}

struct PeakCase {
  float value;
  const char* text;
};

TEST(PeakText, ShortestRoundTripWithADigitAfterThePoint) {
  const PeakCase cases[] = {
      {0.0f, "0.0"},      {1.0f, "1.0"},        {0.25f, "0.25"},     {0.1f, "0.1"},
      {2.0f, "2.0"},      {0.0001f, "0.0001"},  {123.5f, "123.5"},   {0.33333334f, "0.33333334"},
      {1e-5f, "1.0e-05"}, {1.5e-7f, "1.5e-07"}, {1e-45f, "1.0e-45"},
  };
  for (const auto& c : cases) EXPECT_EQ(PeakText(c.value).view(), c.text) << c.value;
}

TEST(PeakText, ReadsBackAsTheSameFloat) {
  float value = 1e-8f;
  for (int i = 0; i < 2000; ++i, value *= 1.0137f) {
    const std::string text(PeakText(value).view());
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
    EXPECT_NE(text.find('.'), std::string::npos) << text;
  }
}

struct UIDCase {
  const char* a;
  const char* b;
  bool same;
};

TEST(SameUID, ComparesCanonicalUnicodeForms) {
  const UIDCase cases[] = {
      {"A", "A", true},
      {"A", "B", false},
      {"A", "a", false},                      // case matters
      {"caf\xC3\xA9", "cafe\xCC\x81", true},  // precomposed vs decomposed é
      {"\xE2\x84\xAB", "\xC3\x85", true},     // angstrom sign vs Å (singleton)
      {"\xEF\xAC\x81", "fi", false},          // compatibility only, not canonical
      {"alsa_output.pci", "alsa_output.pci ", false},
      {"\xFF\xFE", "\xFF\xFE", true},  // invalid UTF-8: identical bytes
      {"\xFF", "\xFE", false},
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(sameUID(c.a, c.b), c.same) << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace mivo::capture
