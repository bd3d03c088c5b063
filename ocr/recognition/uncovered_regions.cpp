#include "recognition/uncovered_regions.h"

#include <algorithm>
#include <memory>

#include "decoding/image.h"
#include "recognition/grey_histogram.h"
#include "recognition/leptonica_handles.h"

namespace mivo::ocr {
namespace {

// Each region costs one more pass of the engine over its pixels.
constexpr std::size_t kMaxRegions = 8;
// A band covering more than this share of the page is its ground, which
// the engine's threshold is made for.
constexpr double kMaxBlockShareOfPage = 0.5;
constexpr double kMinBlockFill = 0.6;  // share of off-paper pixels in a band
constexpr int kMinGlyphsInRegion = 2;  // a lone mark is an icon or a speck
// Grey levels by which a band's ground differs from the paper.
constexpr l_int32 kGroundDifference = 40;

PixelBox toPixelBox(Box* box) {
  l_int32 x = 0;
  l_int32 y = 0;
  l_int32 w = 0;
  l_int32 h = 0;
  boxGetGeometry(box, &x, &y, &w, &h);
  return PixelBox{x, y, x + w, y + h};
}

bool within(const PixelBox& inner, const PixelBox& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

void setRect(Pix* pix, const PixelBox& box, bool dark) {
  const BoxHandle rect{boxCreate(box.left, box.top, box.width(), box.height())};
  if (dark) {
    pixSetInRect(pix, rect.get());
  } else {
    pixClearInRect(pix, rect.get());
  }
}

// The ink left once the words read (grown by a little for anti-aliased
// edges) are taken out.
Image unreadInk(Pix* ink, const std::vector<PixelBox>& read, int margin) {
  Image left{pixCopy(nullptr, ink)};
  for (const PixelBox& box : read) {
    setRect(left.get(),
            PixelBox{box.left - margin, box.top - margin, box.right + margin, box.bottom + margin},
            false);
  }
  return left;
}

double fill(Pix* ink, Box* box, const PixelBox& bounds) {
  l_int32 dark = 0;
  pixCountPixelsInRect(ink, box, &dark, nullptr);
  return static_cast<double>(dark) / (static_cast<double>(bounds.width()) * bounds.height());
}

bool isFilledBand(const PixelBox& b, double share, int textHeight, double pageArea) {
  const double area = static_cast<double>(b.width()) * b.height();
  return b.height() >= textHeight && b.width() >= 4 * textHeight && share >= kMinBlockFill &&
         area <= kMaxBlockShareOfPage * pageArea;
}

// Letter- or digit-sized: rules are too thin or too long, speckle too small,
// line art too large.
bool isGlyphSized(const PixelBox& b, int textHeight) {
  return 2 * b.height() >= textHeight && b.height() <= 2 * textHeight &&
         b.width() <= 2 * textHeight;
}

// Glyphs close enough to be one word, line or paragraph become one region.
std::vector<UncoveredRegion> groupGlyphs(const std::vector<PixelBox>& glyphs, Pix* ink,
                                         int textHeight) {
  std::vector<UncoveredRegion> regions;
  const Image marks{pixCreate(pixGetWidth(ink), pixGetHeight(ink), 1)};
  for (const PixelBox& glyph : glyphs) {
    setRect(marks.get(), glyph, true);
  }
  const Image joined{pixCloseCompBrickExtendDwa(nullptr, marks.get(), 2 * textHeight, textHeight)};
  const BoxaHandle groups{joined ? pixConnCompBB(joined.get(), 8) : nullptr};
  for (l_int32 index = 0; groups && index < boxaGetCount(groups.get()); ++index) {
    const BoxHandle box{boxaGetBox(groups.get(), index, L_COPY)};
    const PixelBox bounds = toPixelBox(box.get());
    const auto inside = std::count_if(glyphs.begin(), glyphs.end(),
                                      [&](const PixelBox& glyph) { return within(glyph, bounds); });
    if (inside >= kMinGlyphsInRegion) {
      regions.push_back(UncoveredRegion{bounds, false, false});
    }
  }
  return regions;
}

// 1 where the page is darker or lighter than its paper by a clear margin.
Image offPaper(Pix* page) {
  const l_int32 paper = groundLevel(page);
  Image darker{pixThresholdToBinary(page, std::max(1, paper - kGroundDifference))};
  Image lighter{pixThresholdToBinary(page, std::min(256, paper + kGroundDifference + 1))};
  if (!darker || !lighter) {
    return Image{};
  }
  pixInvert(lighter.get(), lighter.get());
  pixOr(darker.get(), darker.get(), lighter.get());
  return darker;
}

// Whether the band's text is lighter than its ground: the ground is the
// grey level the band has most of, and the text pulls the mean its way.
bool hasLightText(Pix* page, Box* box) {
  const Image band{pixClipRectangle(page, box, nullptr)};
  if (!band) {
    return false;
  }
  l_float32 mean = 0;
  pixGetAverageMasked(band.get(), nullptr, 0, 0, 1, L_MEAN_ABSVAL, &mean);
  return mean > static_cast<l_float32>(groundLevel(band.get()));
}

// Bands of a ground other than the paper (a banner, a selected tab, a
// shaded row), with text the first look did not read.
std::vector<UncoveredRegion> filledBands(Pix* page, const std::vector<PixelBox>& read, int margin,
                                         int textHeight) {
  std::vector<UncoveredRegion> bands;
  const Image ground = offPaper(page);
  const Image left{ground ? unreadInk(ground.get(), read, margin) : nullptr};
  const BoxaHandle components{left ? pixConnCompBB(left.get(), 8) : nullptr};
  const double pageArea = static_cast<double>(pixGetWidth(page)) * pixGetHeight(page);
  for (l_int32 index = 0; components && index < boxaGetCount(components.get()); ++index) {
    const BoxHandle box{boxaGetBox(components.get(), index, L_COPY)};
    const PixelBox bounds = toPixelBox(box.get());
    if (isFilledBand(bounds, fill(left.get(), box.get(), bounds), textHeight, pageArea)) {
      bands.push_back(UncoveredRegion{bounds, true, hasLightText(page, box.get())});
    }
  }
  return bands;
}

// Glyph-sized ink the first look did not read, in groups.
std::vector<UncoveredRegion> glyphGroups(Pix* ink, const std::vector<PixelBox>& read, int margin,
                                         int textHeight) {
  const Image left = unreadInk(ink, read, margin);
  const BoxaHandle components{left ? pixConnCompBB(left.get(), 8) : nullptr};
  std::vector<PixelBox> glyphs;
  for (l_int32 index = 0; components && index < boxaGetCount(components.get()); ++index) {
    const BoxHandle box{boxaGetBox(components.get(), index, L_COPY)};
    const PixelBox bounds = toPixelBox(box.get());
    if (isGlyphSized(bounds, textHeight)) {
      glyphs.push_back(bounds);
    }
  }
  return groupGlyphs(glyphs, ink, textHeight);
}

double area(const UncoveredRegion& region) {
  return static_cast<double>(region.box.width()) * region.box.height();
}

}  // namespace

std::vector<UncoveredRegion> findUncoveredRegions(Pix* ink, Pix* page,
                                                  const std::vector<PixelBox>& read,
                                                  int textHeight) {
  if (ink == nullptr || pixGetDepth(ink) != 1 || page == nullptr || pixGetDepth(page) != 8 ||
      textHeight < 4) {
    return {};
  }
  const int margin = std::max(2, textHeight / 8);
  std::vector<UncoveredRegion> regions = filledBands(page, read, margin, textHeight);
  const std::size_t bands = regions.size();
  for (UncoveredRegion& group : glyphGroups(ink, read, margin, textHeight)) {
    // A band is read whole, glyphs and all.
    if (std::none_of(regions.begin(), regions.begin() + static_cast<std::ptrdiff_t>(bands),
                     [&](const UncoveredRegion& band) { return within(group.box, band.box); })) {
      regions.push_back(group);
    }
  }
  std::sort(regions.begin(), regions.end(),
            [](const UncoveredRegion& a, const UncoveredRegion& b) { return area(a) > area(b); });
  if (regions.size() > kMaxRegions) {
    regions.resize(kMaxRegions);
  }
  return regions;
}

}  // namespace mivo::ocr
