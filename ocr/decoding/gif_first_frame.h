#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivo::ocr {

// A GIF cut down to its first frame, so that the decoder never reads (or
// allocates for) the frames after it.
struct GifFirstFrame {
  std::string bytes;
  int screenWidth = 0;
  int screenHeight = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  int transparentIndex = -1;  // the colour index the first frame shows as transparent
};

// None when the data is not a GIF or ends before the first frame does.
std::optional<GifFirstFrame> cutGifToFirstFrame(std::string_view gif);

}  // namespace mivo::ocr
