#pragma once

#include <cstdint>

#include "decoding/image.h"

namespace mivo::ocr {

// A 32-bit Leptonica image to be filled from rows of packed 8-bit RGB.
Image createRgbPix(int width, int height);
void copyRgbRowToPix(const std::uint8_t* rgb, int row, Pix* pix);
// The same from packed 8-bit RGBA, alpha kept in the low byte.
void copyRgbaRowToPix(const std::uint8_t* rgba, int row, Pix* pix);
// An 8-bit grey Leptonica image, filled from rows of 8-bit grey.
Image createGreyPix(int width, int height);
void copyGreyRowToPix(const std::uint8_t* grey, int row, Pix* pix);

}  // namespace mivo::ocr
