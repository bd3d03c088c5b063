#include "recognition/text_scale.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "recognition/grey_histogram.h"
#include "recognition/layout/median.h"
#include "recognition/leptonica_handles.h"

namespace mivo::ocr {
namespace {

// Blobs up to this median height may be small text: 13 px UI text
// measures about 8. Small print on scanned pages (11-12) is read well as it
// is; enlarged, its dotted rules and speckle turn into letters.
constexpr int kSmallGlyphHeight = 10;
// The engine's text-line height (ascender to descender) it reads best: UI
// text of 13 px enlarged twice, small print on a 300 dpi scan as it is.
// Screen text is much smaller (9-16 px), more so on a scaled-down screen.
constexpr double kBestLineHeight = 30.0;
// Enlarging by less gains less than the engine's extra time on the pixels.
constexpr double kMinWorthwhileFactor = 1.4;
// Text 7 px tall and less has too few pixels per stroke for more to help.
constexpr double kMaxFactor = 4.0;
// Print is thin strokes on a ground: its ink is a small share of the page.
// A texture split at its middle grey gives two shares of like size.
constexpr double kMaxPrintInkShare = 0.25;
// A line of text, ascender to descender, is about twice as tall as the
// median glyph, which is most often a lower-case letter.
constexpr int kLineHeightInGlyphs = 2;
// The engine needs about 16 bytes per pixel of the page it reads: this
// bounds its memory to a few hundred megabytes, and its time with it.
constexpr double kMaxEnlargedPixels = 12'000'000;
// Reading a page costs the engine's models (some 35 MB) and about 6 bytes
// per pixel of the page read. An enlarged page of at most this many pixels
// plus twice the page's own keeps the engine within twice the memory of
// reading the page as it is, however small the page.
constexpr double kModelsInPagePixels = 6'000'000;
constexpr l_int32 kMinGlyphHeight = 3;
constexpr l_int32 kMaxGlyphHeight = 200;
constexpr l_int32 kMaxGlyphAspect = 4;  // wider than this: a rule or a bar, not a glyph
// Fewer glyphs than a short line of text holds are no evidence of which way
// round the text is: a few specks on a scaled-down dark screen.
constexpr std::size_t kMinVotingGlyphs = 20;

// The grey level of an Otsu split of the image's histogram, and whether
// most pixels lie at or below it: a dark ground, as in a dark theme.
struct GreySplit {
  l_int32 level = 0;
  bool darkGround = false;
};

std::optional<GreySplit> splitGrey(Pix* grey) {
  const NumaHandle histogram = greyHistogram(grey);
  l_int32 level = 128;
  if (!histogram || numaSplitDistribution(histogram.get(), 0.0F, &level, nullptr, nullptr, nullptr,
                                          nullptr, nullptr) != 0) {
    return std::nullopt;
  }
  l_float32 atOrBelow = 0.0F;
  l_float32 all = 0.0F;
  if (numaGetSumOnInterval(histogram.get(), 0, level, &atOrBelow) != 0 ||
      numaGetSum(histogram.get(), &all) != 0) {
    return std::nullopt;
  }
  return GreySplit{level, atOrBelow > all / 2};
}

// The pixels on one side of the split: at or below it (DARK_SIDE), or above.
Image sideOfSplit(Pix* grey, l_int32 level, bool darkSide) {
  Image mask{pixThresholdToBinary(grey, level + 1)};
  if (mask && !darkSide) {
    pixInvert(mask.get(), mask.get());
  }
  return mask;
}

// Foreground at 1: the minority side of the split, so that light text on a
// dark theme counts as well as dark text on white.
Image textMask(Pix* grey) {
  const std::optional<GreySplit> split = splitGrey(grey);
  return split ? sideOfSplit(grey, split->level, !split->darkGround) : Image{};
}

// The heights of the glyph-sized shapes of a mask.
std::vector<l_int32> glyphHeights(Pix* mask) {
  const BoxaHandle boxes{pixConnCompBB(mask, 8)};
  std::vector<l_int32> heights;
  for (l_int32 index = 0; boxes && index < boxaGetCount(boxes.get()); ++index) {
    l_int32 width = 0;
    l_int32 height = 0;
    boxaGetBoxGeometry(boxes.get(), index, nullptr, nullptr, &width, &height);
    if (height >= kMinGlyphHeight && height <= kMaxGlyphHeight &&
        width <= kMaxGlyphAspect * height) {
      heights.push_back(height);
    }
  }
  return heights;
}

std::size_t glyphCount(Pix* grey, l_int32 level, bool darkSide) {
  const Image mask = sideOfSplit(grey, level, darkSide);
  return mask ? glyphHeights(mask.get()).size() : 0;
}

// Whether the page has a dark ground to turn light: most of it lies below
// its split, as on a dark theme, and its text is not dark already. Text is
// dark when more glyph-sized shapes lie below the split than above it: a
// light dialog card over a dimmed backdrop holds dark text although most of
// the page is dark. Areas of one shade (the card, the backdrop, a side bar)
// are not glyphs and do not vote.
bool hasDarkGround(Pix* grey) {
  const std::optional<GreySplit> split = splitGrey(grey);
  if (!split || !split->darkGround) {
    return false;
  }
  const std::size_t dark = glyphCount(grey, split->level, true);
  return dark < kMinVotingGlyphs || dark <= glyphCount(grey, split->level, false);
}

}  // namespace

int medianGlyphHeight(Pix* grey) {
  const Image mask = textMask(grey);
  return mask ? median(glyphHeights(mask.get())) : 0;
}

Image lightGroundGrey(const Image& image) {
  Image grey{pixConvertTo8(image.get(), 0)};
  if (grey && hasDarkGround(grey.get())) {
    pixInvert(grey.get(), grey.get());
  }
  return grey;
}

bool mayHoldSmallText(Pix* grey) {
  const int glyphHeight = medianGlyphHeight(grey);
  return glyphHeight > 0 && glyphHeight <= kSmallGlyphHeight;
}

int medianPrintGlyphHeight(Pix* grey) {
  const Image mask = textMask(grey);
  l_int32 ink = 0;
  if (!mask || pixCountPixels(mask.get(), &ink, nullptr) != 0) {
    return 0;
  }
  const double pixels = static_cast<double>(pixGetWidth(grey)) * pixGetHeight(grey);
  return ink <= kMaxPrintInkShare * pixels ? medianGlyphHeight(grey) : 0;
}

int lineHeightFromGlyphs(Pix* grey) { return kLineHeightInGlyphs * medianPrintGlyphHeight(grey); }

double enlargementFor(int lineHeight, Pix* grey) {
  if (lineHeight <= 0) {
    return 1.0;
  }
  const double pixels = static_cast<double>(pixGetWidth(grey)) * pixGetHeight(grey);
  const double wanted = std::min(kMaxFactor, kBestLineHeight / lineHeight);
  const double bound = std::min(kMaxEnlargedPixels, kModelsInPagePixels + 2 * pixels);
  const double factor = std::min(wanted, std::sqrt(bound / pixels));
  return factor >= kMinWorthwhileFactor ? factor : 1.0;
}

}  // namespace mivo::ocr
