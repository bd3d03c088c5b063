#include "recognition/ground_level.h"

#include "recognition/leptonica_handles.h"

namespace mivo::ocr {

l_int32 groundLevel(Pix* grey) {
  const NumaHandle histogram{pixGetGrayHistogram(grey, 1)};
  l_float32 count = 0;
  l_int32 level = 255;
  if (histogram) {
    numaGetMax(histogram.get(), &count, &level);
  }
  return level;
}

}  // namespace mivo::ocr
