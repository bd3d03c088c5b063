#include "decoding/rgb_pix.h"

#include <cstddef>

#include <leptonica/allheaders.h>

namespace mivo::ocr {

Image createRgbPix(int width, int height) { return Image{pixCreate(width, height, 32)}; }

void copyRgbRowToPix(const std::uint8_t* rgb, int row, Pix* pix) {
  l_uint32* target = pixGetData(pix) + static_cast<std::ptrdiff_t>(row) * pixGetWpl(pix);
  const auto width = static_cast<int>(pixGetWidth(pix));
  for (int x = 0; x < width; ++x, rgb += 3) {
    composeRGBPixel(rgb[0], rgb[1], rgb[2], target + x);
  }
}

void copyRgbaRowToPix(const std::uint8_t* rgba, int row, Pix* pix) {
  l_uint32* target = pixGetData(pix) + static_cast<std::ptrdiff_t>(row) * pixGetWpl(pix);
  const auto width = static_cast<int>(pixGetWidth(pix));
  for (int x = 0; x < width; ++x, rgba += 4) {
    composeRGBAPixel(rgba[0], rgba[1], rgba[2], rgba[3], target + x);
  }
}

Image createGreyPix(int width, int height) { return Image{pixCreate(width, height, 8)}; }

void copyGreyRowToPix(const std::uint8_t* grey, int row, Pix* pix) {
  l_uint32* target = pixGetData(pix) + static_cast<std::ptrdiff_t>(row) * pixGetWpl(pix);
  const auto width = static_cast<int>(pixGetWidth(pix));
  for (int x = 0; x < width; ++x) {
    SET_DATA_BYTE(target, x, grey[x]);
  }
}

}  // namespace mivo::ocr
