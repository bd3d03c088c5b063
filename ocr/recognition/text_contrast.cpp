#include "recognition/text_contrast.h"

#include <algorithm>
#include <optional>

#include "recognition/grey_histogram.h"
#include "recognition/leptonica_handles.h"

namespace mivo::ocr {
namespace {

// A screen's ground is drawn in one colour: at least this share of the
// picture lies within a level of its most common grey. Paper under a
// scanner or a camera spreads over many levels.
constexpr double kMinFlatGroundShare = 0.3;
// The darkest text is the level this share of the pixels is darker than.
constexpr double kDarkTextShare = 0.005;
// Text at least this share of the way from the ground to the darkest text
// becomes black.
constexpr double kFullInkShare = 0.5;
// Below this span between ground and text there is nothing to even out.
constexpr int kMinContrast = 32;

struct GroundAndInk {
  int ground = 0;
  int ink = 0;
};

// The ground level and the level of the darkest text, when the ground is
// flat.
std::optional<GroundAndInk> flatGround(Pix* grey) {
  const NumaHandle histogram = greyHistogram(grey);
  l_float32 peak = 0;
  l_int32 ground = 0;
  l_float32 all = 0;
  if (!histogram || numaGetMax(histogram.get(), &peak, &ground) != 0 ||
      numaGetSum(histogram.get(), &all) != 0 || all <= 0) {
    return std::nullopt;
  }
  l_float32 nearGround = 0;
  numaGetSumOnInterval(histogram.get(), std::max(0, ground - 1), std::min(255, ground + 1),
                       &nearGround);
  if (nearGround < kMinFlatGroundShare * all) {
    return std::nullopt;
  }
  l_float32 darker = 0;
  int ink = 0;
  while (ink < ground) {
    l_float32 count = 0;
    numaGetFValue(histogram.get(), ink, &count);
    darker += count;
    if (darker > kDarkTextShare * all) {
      break;
    }
    ++ink;
  }
  return GroundAndInk{ground, ink};
}

// Levels between the ground and the full-ink level are spread over the whole
// range; lighter than the ground stays white.
NumaHandle contrastCurve(const GroundAndInk& levels) {
  const double fullInk = levels.ground - kFullInkShare * (levels.ground - levels.ink);
  NumaHandle curve{numaCreate(256)};
  for (int level = 0; level < 256; ++level) {
    const double share = (level - fullInk) / (levels.ground - fullInk);
    numaAddNumber(curve.get(), static_cast<l_float32>(255.0 * std::clamp(share, 0.0, 1.0)));
  }
  return curve;
}

}  // namespace

Image evenTextContrast(Pix* grey) {
  const std::optional<GroundAndInk> levels = flatGround(grey);
  if (!levels || levels->ground - levels->ink < kMinContrast) {
    return Image{};
  }
  const NumaHandle curve = contrastCurve(*levels);
  Image evened{pixCopy(nullptr, grey)};
  if (!curve || !evened || pixTRCMap(evened.get(), nullptr, curve.get()) != 0) {
    return Image{};
  }
  return evened;
}

}  // namespace mivo::ocr
