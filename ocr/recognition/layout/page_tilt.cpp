#include "recognition/layout/page_tilt.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "recognition/layout/layout_geometry.h"

namespace mivo::ocr {
namespace {

struct Slope {
  double rise = 0.0;  // per pixel across
  double length = 0.0;
};

// The engine fits one baseline through a line's letters and reports it at
// each word, so the line's first and last words give its slope.
std::optional<Slope> slopeOf(const TextLine& line) {
  if (line.words.size() < 2) {
    return std::nullopt;
  }
  const auto [first, last] = std::minmax_element(
      line.words.begin(), line.words.end(), [](const RecognizedWord& a, const RecognizedWord& b) {
        return centreX(a.box) < centreX(b.box);
      });
  const double length = centreX(last->box) - centreX(first->box);
  if (length <= 0.0) {
    return std::nullopt;
  }
  return Slope{(last->baseline - first->baseline) / length, length};
}

double weightedMedian(std::vector<Slope> slopes) {
  std::sort(slopes.begin(), slopes.end(),
            [](const Slope& a, const Slope& b) { return a.rise < b.rise; });
  double total = 0.0;
  for (const Slope& slope : slopes) {
    total += slope.length;
  }
  double below = 0.0;
  for (const Slope& slope : slopes) {
    below += slope.length;
    if (2.0 * below >= total) {
      return slope.rise;
    }
  }
  return 0.0;
}

// The rotation that levels rows rising by `tilt` per pixel.
struct Turn {
  double cosine;
  double sine;

  explicit Turn(double tilt)
      : cosine(1.0 / std::sqrt(1.0 + tilt * tilt)), sine(tilt / std::sqrt(1.0 + tilt * tilt)) {}

  [[nodiscard]] double x(double atX, double atY) const { return atX * cosine + atY * sine; }
  [[nodiscard]] double y(double atX, double atY) const { return atY * cosine - atX * sine; }
};

// Letters reach at least half the engine's text height of their line, all
// but dots and dashes; a word whose bounds are not slanted as the page is
// (a level strip on a tilted photo) keeps at least that height.
constexpr double kMinShareOfLineHeight = 0.5;

// A slanted word's bounds are wider and taller than the word by the other
// side times the sine of the tilt; the word's own size undoes that.
void level(RecognizedWord& word, const Turn& turn) {
  const double across = turn.cosine * turn.cosine - turn.sine * turn.sine;
  const double sine = std::abs(turn.sine);
  const double width = word.box.width();
  const double height = word.box.height();
  const double ownWidth = std::max(1.0, (width * turn.cosine - height * sine) / across);
  const double lowest = std::min(height, std::max(1.0, kMinShareOfLineHeight * word.lineHeight));
  const double ownHeight = std::max(lowest, (height * turn.cosine - width * sine) / across);
  const double x = centreX(word.box);
  const double y = centreY(word.box);
  const double levelX = turn.x(x, y);
  const double levelY = turn.y(x, y);
  word.box = PixelBox{static_cast<int>(std::lround(levelX - ownWidth / 2)),
                      static_cast<int>(std::lround(levelY - ownHeight / 2)),
                      static_cast<int>(std::lround(levelX + ownWidth / 2)),
                      static_cast<int>(std::lround(levelY + ownHeight / 2))};
  word.baseline = static_cast<int>(std::lround(turn.y(x, word.baseline)));
}

}  // namespace

double pageTilt(const std::vector<TextLine>& lines) {
  std::vector<Slope> slopes;
  for (const TextLine& line : lines) {
    if (const std::optional<Slope> slope = slopeOf(line)) {
      slopes.push_back(*slope);
    }
  }
  return weightedMedian(std::move(slopes));
}

std::vector<TextLine> levelled(std::vector<TextLine> lines, double tilt) {
  const Turn turn(tilt);
  for (TextLine& line : lines) {
    for (RecognizedWord& word : line.words) {
      level(word, turn);
    }
  }
  return lines;
}

}  // namespace mivo::ocr
