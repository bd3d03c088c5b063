#include "drawn_pages.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>

#include <leptonica/allheaders.h>

#include "test_images.h"

namespace mivo::ocr::testing {
namespace {

struct PixDestroyer {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixHandle = std::unique_ptr<Pix, PixDestroyer>;

struct FontDestroyer {
  void operator()(L_BMF* font) const { bmfDestroy(&font); }
};
using FontHandle = std::unique_ptr<L_BMF, FontDestroyer>;

constexpr int kMargin = 30;
constexpr l_int32 kBlack = 0;

void require(bool ok, const std::string& what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

FontHandle font(int size) {
  FontHandle handle{bmfCreate(nullptr, size)};
  require(handle != nullptr, "no bitmap font of size " + std::to_string(size));
  return handle;
}

// 8-bit grey, black text on white.
PixHandle drawLines(const std::vector<DrawnLine>& lines) {
  int width = 0;
  int height = 2 * kMargin;
  for (const DrawnLine& line : lines) {
    const FontHandle face = font(line.fontSize);
    l_int32 lineWidth = 0;
    bmfGetStringWidth(face.get(), line.text.c_str(), &lineWidth);
    width = std::max(width, lineWidth);
    height += face->lineheight;
  }
  PixHandle pix{pixCreate(width + 2 * kMargin, height, 8)};
  pixSetAll(pix.get());
  int top = kMargin;
  for (const DrawnLine& line : lines) {
    const FontHandle face = font(line.fontSize);
    l_int32 baseline = 0;
    bmfGetBaseline(face.get(), 'x', &baseline);
    pixSetTextline(pix.get(), face.get(), line.text.c_str(), kBlack, kMargin, top + baseline,
                   nullptr, nullptr);
    top += face->lineheight;
  }
  return pix;
}

void write(Pix* pix, l_int32 format, const std::filesystem::path& target) {
  require(pixWrite(target.c_str(), pix, format) == 0, "cannot write " + target.string());
}

// A GIF whose ground (index 0) and text are both black, the ground named
// transparent in a graphic control block (Leptonica's writer has none).
void writeGifWithTransparentGround(Pix* text, const std::filesystem::path& target) {
  const PixHandle textMask{pixThresholdToBinary(text, 128)};
  PixHandle twoColours{pixConvert1To8(nullptr, textMask.get(), 0, 1)};  // 1: text
  PIXCMAP* colours = pixcmapCreate(8);
  pixcmapAddColor(colours, 0, 0, 0);
  pixcmapAddColor(colours, 0, 0, 0);
  // A third colour in one corner keeps more than one bit a pixel, whose colours the
  // decoder maps; a file of two colours is read as bits.
  pixcmapAddColor(colours, 128, 128, 128);
  pixSetPixel(twoColours.get(), 0, 0, 2);
  pixSetColormap(twoColours.get(), colours);
  l_uint8* bytes = nullptr;
  size_t size = 0;
  require(pixWriteMemGif(&bytes, &size, twoColours.get()) == 0, "cannot write the GIF");
  std::string gif(reinterpret_cast<const char*>(bytes), size);
  lept_free(bytes);
  const auto packed = static_cast<unsigned char>(gif[10]);
  const std::size_t afterColourTable = 13 + ((packed & 0x80U) != 0 ? 3U << ((packed & 7U) + 1) : 0);
  gif.insert(afterColourTable, std::string("\x21\xF9\x04\x01\x00\x00\x00\x00", 8));
  std::ofstream(target, std::ios::binary) << gif;
}

}  // namespace

void writeTextPage(const std::vector<DrawnLine>& lines, double scale,
                   const std::filesystem::path& target) {
  const PixHandle drawn = drawLines(lines);
  const auto factor = static_cast<l_float32>(scale);
  const PixHandle scaled{scale == 1.0 ? pixClone(drawn.get())
                                      : pixScale(drawn.get(), factor, factor)};
  write(scaled.get(), IFF_PNG, target);
}

void writePageWithDarkCard(const std::vector<DrawnLine>& page, const std::vector<DrawnLine>& card,
                           const std::filesystem::path& target) {
  const PixHandle top = drawLines(page);
  // Light text on a ground of 40: the inverted drawing, its black lifted.
  const PixHandle panel{pixInvert(nullptr, drawLines(card).get())};
  pixGammaTRC(panel.get(), panel.get(), 1.0F, -50, 255);
  const int width = std::max(pixGetWidth(top.get()), pixGetWidth(panel.get()));
  const int height = pixGetHeight(top.get()) + pixGetHeight(panel.get()) + kMargin;
  const PixHandle both{pixCreate(width + kMargin, height, 8)};
  pixSetAll(both.get());
  pixRasterop(both.get(), 0, 0, pixGetWidth(top.get()), pixGetHeight(top.get()), PIX_SRC, top.get(),
              0, 0);
  pixRasterop(both.get(), kMargin, pixGetHeight(top.get()), pixGetWidth(panel.get()),
              pixGetHeight(panel.get()), PIX_SRC, panel.get(), 0, 0);
  write(both.get(), IFF_PNG, target);
}

void writeTexture(int width, int height, const std::filesystem::path& target) {
  const PixHandle noise{pixCreate(width, height, 8)};
  std::mt19937 random(7);
  std::normal_distribution<double> grain(128.0, 40.0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixSetPixel(noise.get(), x, y, static_cast<l_uint32>(std::clamp(grain(random), 0.0, 255.0)));
    }
  }
  // Grain of a few pixels, as a camera's sensor and JPEG leave it.
  const PixHandle grainy{pixBlockconv(noise.get(), 1, 1)};
  write(grainy.get(), IFF_PNG, target);
}

void writeTextOnTransparentGround(const std::vector<DrawnLine>& lines, const std::string& format,
                                  const std::filesystem::path& target) {
  const PixHandle text = drawLines(lines);
  if (format == "gif") {
    writeGifWithTransparentGround(text.get(), target);
    return;
  }
  // Every pixel black; only the alpha channel draws the letters.
  const PixHandle rgba{pixCreate(pixGetWidth(text.get()), pixGetHeight(text.get()), 32)};
  pixSetSpp(rgba.get(), 4);
  const PixHandle opacity{pixInvert(nullptr, text.get())};
  pixSetRGBComponent(rgba.get(), opacity.get(), L_ALPHA_CHANNEL);
  if (format == "heic") {
    writeHeic(rgba.get(), target);
    return;
  }
  const l_int32 kFormat = format == "tif" ? IFF_TIFF_ZIP : format == "webp" ? IFF_WEBP : IFF_PNG;
  write(rgba.get(), kFormat, target);
}

}  // namespace mivo::ocr::testing
