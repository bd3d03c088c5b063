#include "decoding/exif_orientation.h"

#include <gtest/gtest.h>

#include "test_images.h"

namespace mivo::ocr::testing {
namespace {

constexpr std::uint16_t kOrientation = 0x0112;
constexpr std::uint16_t kAscii = 2;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr TiffEntry kMake{0x010F, kAscii, 4, 0};

std::string withDirectoryAt(std::string tiff, std::uint32_t offset) {
  for (int index = 0; index < 4; ++index) {
    tiff[4 + static_cast<std::size_t>(index)] = static_cast<char>(offset >> (24 - 8 * index));
  }
  return tiff;
}

struct ExifCase {
  const char* name;
  std::string exif;
  int expected;
};

class ExifOrientation : public ::testing::TestWithParam<ExifCase> {};

TEST_P(ExifOrientation, IsReadOrTakenAsUpright) {
  EXPECT_EQ(exifOrientation(GetParam().exif), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ExifOrientation,
    ::testing::Values(
        ExifCase{"BigEndian", tiffStructure(true, {{kOrientation, kShort, 1, 6}}), 6},
        ExifCase{"LittleEndian", tiffStructure(false, {{kOrientation, kShort, 1, 8}}), 8},
        ExifCase{"AfterTheJpegHeader",
                 std::string("Exif\0\0", 6) + tiffStructure(false, {{kOrientation, kShort, 1, 3}}),
                 3},
        ExifCase{"AmongOtherEntries",
                 tiffStructure(true, {kMake, {kOrientation, kShort, 1, 5}, {0x011A, 5, 1, 72}}), 5},
        ExifCase{"Absent", tiffStructure(true, {kMake}), 1},
        ExifCase{"Zero", tiffStructure(true, {{kOrientation, kShort, 1, 0}}), 1},
        ExifCase{"BeyondEight", tiffStructure(true, {{kOrientation, kShort, 1, 9}}), 1},
        ExifCase{"NotAShort", tiffStructure(true, {{kOrientation, kLong, 1, 6}}), 1},
        ExifCase{"TwoValues", tiffStructure(true, {{kOrientation, kShort, 2, 6}}), 1},
        ExifCase{"DirectoryPastTheEnd",
                 withDirectoryAt(tiffStructure(true, {{kOrientation, kShort, 1, 6}}), 0xFFFFFFF0U),
                 1},
        ExifCase{"MoreEntriesCountedThanThere",
                 tiffStructure(true, {kMake}).replace(8, 2, "\xFF\xFF"), 1},
        ExifCase{"NotTiff", "JFIF" + tiffStructure(true, {{kOrientation, kShort, 1, 6}}), 1},
        ExifCase{"BigTiff",
                 tiffStructure(true, {{kOrientation, kShort, 1, 6}}).replace(2, 2, "\0+", 2), 1},
        ExifCase{"Empty", "", 1}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The value ends 20 bytes in: the 8-byte header, the entry count, the
// entry's tag, type, count and value.
TEST(ExifOrientationCut, AnywhereBeforeTheValueEndsIsUpright) {
  const std::string whole = tiffStructure(true, {{kOrientation, kShort, 1, 6}});
  for (std::size_t length = 0; length < 20; ++length) {
    EXPECT_EQ(exifOrientation(whole.substr(0, length)), 1) << length;
  }
  EXPECT_EQ(exifOrientation(whole.substr(0, 20)), 6);
}

}  // namespace
}  // namespace mivo::ocr::testing
