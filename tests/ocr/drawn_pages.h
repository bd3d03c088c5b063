#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mivo::ocr::testing {

// Pictures of text drawn at test time in Leptonica's built-in bitmap font,
// whose sizes (4 to 20, even) are points at 300 dpi: size 10 stands 42 px
// from line to line.
struct DrawnLine {
  std::string text;
  int fontSize = 10;
};

// Black lines on white, one under the other, the whole scaled by `scale`
// (0.5: a screen shown at half size).
void writeTextPage(const std::vector<DrawnLine>& lines, double scale,
                   const std::filesystem::path& target);

// `page` above a dark card whose `card` lines are light and small, as the
// panels of a dark dashboard are.
void writePageWithDarkCard(const std::vector<DrawnLine>& page, const std::vector<DrawnLine>& card,
                           const std::filesystem::path& target);

// A grey texture without any text, as a photo of a wall or of fabric.
void writeTexture(int width, int height, const std::filesystem::path& target);

// Black lines on a transparent ground whose hidden colour is black too, as
// "png", "tif", "webp", "heic" or "gif" (whose transparency is a colour
// index).
void writeTextOnTransparentGround(const std::vector<DrawnLine>& lines, const std::string& format,
                                  const std::filesystem::path& target);

}  // namespace mivo::ocr::testing
