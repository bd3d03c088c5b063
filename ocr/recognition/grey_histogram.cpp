#include "recognition/grey_histogram.h"

#include <algorithm>
#include <cmath>

namespace mivo::ocr {
namespace {

// A million samples put a level holding a thousandth of the picture within a
// few percent of its true count.
constexpr double kEnoughSamples = 1'000'000;

}  // namespace

NumaHandle greyHistogram(Pix* grey) {
  const double pixels = static_cast<double>(pixGetWidth(grey)) * pixGetHeight(grey);
  const auto step = std::max(1, static_cast<int>(std::sqrt(pixels / kEnoughSamples)));
  return NumaHandle{pixGetGrayHistogram(grey, step)};
}

l_int32 groundLevel(Pix* grey) {
  const NumaHandle histogram = greyHistogram(grey);
  l_float32 count = 0;
  l_int32 level = 255;
  if (histogram) {
    numaGetMax(histogram.get(), &count, &level);
  }
  return level;
}

}  // namespace mivo::ocr
