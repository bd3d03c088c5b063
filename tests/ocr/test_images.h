#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct Pix;

namespace mivo::ocr::testing {

// Writes the PNG at `source` again in another format: "png", "jpg", "tif",
// "bmp", "gif", "webp", "pnm" or "heic".
void convertImage(const std::filesystem::path& source, const std::string& format,
                  const std::filesystem::path& target);

// `source` as HEIC, with its alpha channel when it has one (32 bits, 4
// samples), turned by `orientation` as the file records it.
void writeHeic(Pix* source, const std::filesystem::path& target, int orientation = 1);

// A TIFF whose page 0 is `firstPage` and page 1 is `secondPage`.
void writeTwoPageTiff(const std::filesystem::path& firstPage,
                      const std::filesystem::path& secondPage, const std::filesystem::path& target);

// The picture at `page` above the one at `banner`, whose light ground
// becomes mid grey: dark text on a grey band, as report covers have.
void writeWithBannerBelow(const std::filesystem::path& page, const std::filesystem::path& banner,
                          const std::filesystem::path& target);

// One entry of a TIFF directory; a SHORT value (type 3) fills the first two
// bytes of the value field.
struct TiffEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;
};

// A TIFF structure, as EXIF data is, whose first directory holds `entries`.
std::string tiffStructure(bool bigEndian, const std::vector<TiffEntry>& entries);

// `stored` as the pixels of a "jpg", "png", "webp", "tif" or "heic" file that
// records the EXIF orientation `orientation` the way its format does.
void writeWithOrientation(Pix* stored, const std::string& format, int orientation,
                          const std::filesystem::path& target);

// A white RGB image without any text.
void writeBlankPng(int width, int height, const std::filesystem::path& target);

// A PNG of a few hundred bytes whose header declares width x height pixels.
void writePngDeclaring(std::uint32_t width, std::uint32_t height,
                       const std::filesystem::path& target);

// The PNG at `source` with a text chunk of `textBytes` bytes after its
// header.
void writePngWithTextChunk(const std::filesystem::path& source, std::size_t textBytes,
                           const std::filesystem::path& target);

// A 57-byte PNG: a 1x1 header, then a text chunk that declares almost 2 GiB
// and ends after a few bytes.
void writePngDeclaringHugeText(const std::filesystem::path& target);

}  // namespace mivo::ocr::testing
