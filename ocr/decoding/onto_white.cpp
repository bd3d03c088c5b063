#include "decoding/onto_white.h"

#include <cstddef>

#include <leptonica/allheaders.h>

namespace mivo::ocr {

void composeOntoWhite(Pix* pix) {
  l_uint32* pixel = pixGetData(pix);
  const auto count = static_cast<std::size_t>(pixGetWpl(pix)) * pixGetHeight(pix);
  for (std::size_t index = 0; index < count; ++index, ++pixel) {
    const l_uint32 alpha = *pixel & 0xFFU;
    l_int32 red = 0;
    l_int32 green = 0;
    l_int32 blue = 0;
    extractRGBValues(*pixel, &red, &green, &blue);
    const auto over = [alpha](l_int32 value) {
      return static_cast<l_int32>((static_cast<l_uint32>(value) * alpha + 255U * (255U - alpha)) /
                                  255U);
    };
    composeRGBPixel(over(red), over(green), over(blue), pixel);
  }
}

Image withoutTransparency(Image image) {
  if (!image) {
    return image;
  }
  PIXCMAP* colours = pixGetColormap(image.get());
  l_int32 opaque = 1;
  if (colours != nullptr && pixcmapIsOpaque(colours, &opaque) == 0 && opaque == 0) {
    image = Image{pixRemoveColormap(image.get(), REMOVE_CMAP_WITH_ALPHA)};
  }
  if (image && pixGetDepth(image.get()) == 32 && pixGetSpp(image.get()) == 4) {
    composeOntoWhite(image.get());
    pixSetSpp(image.get(), 3);
  }
  return image;
}

}  // namespace mivo::ocr
