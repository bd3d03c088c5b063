#include "decoding/upright_image.h"

#include <array>

#include <leptonica/allheaders.h>

#include "decoding/exif_orientation.h"

namespace mivo::ocr {
namespace {

// Every orientation is a turn clockwise followed, for the mirrored ones, by
// a flip of left and right.
struct Turn {
  int quarterTurnsClockwise = 0;
  bool mirrored = false;
};

constexpr std::array<Turn, 8> kTurnOfOrientation{{
    {0, false},  // 1: upright
    {0, true},   // 2: mirrored
    {2, false},  // 3: upside down
    {2, true},   // 4: mirrored top to bottom
    {1, true},   // 5: rows are the columns from the top left (transposed)
    {1, false},  // 6: stored a quarter turn anticlockwise (a phone held upright)
    {3, true},   // 7: transposed across the other diagonal
    {3, false},  // 8: stored a quarter turn clockwise
}};

Image turned(Image image, int quarterTurnsClockwise) {
  switch (quarterTurnsClockwise) {
    case 1:
      return Image{pixRotate90(image.get(), 1)};
    case 2:
      return pixRotate180(image.get(), image.get()) != nullptr ? std::move(image) : Image{};
    case 3:
      return Image{pixRotate90(image.get(), -1)};
    default:
      return image;
  }
}

}  // namespace

Image turnUpright(Image image, int orientation) {
  if (!image || orientation <= kUprightOrientation ||
      orientation > static_cast<int>(kTurnOfOrientation.size())) {
    return image;
  }
  const Turn turn = kTurnOfOrientation[static_cast<std::size_t>(orientation - 1)];
  Image upright = turned(std::move(image), turn.quarterTurnsClockwise);
  if (upright && turn.mirrored && pixFlipLR(upright.get(), upright.get()) == nullptr) {
    return Image{};
  }
  return upright;
}

}  // namespace mivo::ocr
