#include "recognition/noise_filter.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "recognition/layout/median.h"
#include "recognition/word_characters.h"

namespace mivo::ocr {
namespace {

// Confidences (0..100) below which a short or symbol-only word at the start
// of a line is taken for a bullet, checkbox or icon; real words that short
// are rarely read with so little confidence.
constexpr float kMaxSymbolConfidence = 80.0F;
constexpr float kMaxShortWordConfidence = 60.0F;
// Anywhere in a line, a sign beyond ASCII ("§", "¢") read with next to no
// confidence is a speck; code's own signs ("#", "{") are ASCII and often
// read with little confidence.
constexpr float kMaxSpeckConfidence = 10.0F;
// Icons fill a square box; a real one- or two-character word rarely does.
constexpr float kMaxSquareWordConfidence = 80.0F;
constexpr double kSquareTolerance = 0.25;
constexpr float kMaxStripConfidence = 90.0F;
// A strip is much taller than the page's usual word and than it is wide.
constexpr double kStripHeightFactor = 2.5;
constexpr float kReliableWordConfidence = 80.0F;
// A rule is less than half as tall as the page's usual word and wider than
// several of them.
constexpr double kRuleHeightFactor = 0.5;
constexpr double kRuleWidthFactor = 6.0;
// Read as letters, a rule gives each far more width than height; a letter,
// even a wide one ("W", "m") in small print, is at most about as wide as
// its word's box is tall.
constexpr double kMaxLetterWidthToHeight = 2.0;
constexpr std::size_t kMinLeaderDots = 4;

bool isSquare(const PixelBox& box) {
  return std::abs(box.width() - box.height()) <= kSquareTolerance * box.height();
}

bool looksLikeBullet(const RecognizedWord& word) {
  if (!hasLetterOrDigit(word.text)) {
    return word.confidence < kMaxSymbolConfidence;
  }
  if (characterCount(word.text) > 2) {
    return false;
  }
  if (isSquare(word.box)) {
    return word.confidence < kMaxSquareWordConfidence;
  }
  return !isNumber(word.text) && word.confidence < kMaxShortWordConfidence;
}

bool isSpeck(const RecognizedWord& word) {
  const bool beyondAscii = std::any_of(word.text.begin(), word.text.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x80;
  });
  return beyondAscii && !hasLetterOrDigit(word.text) && word.confidence < kMaxSpeckConfidence;
}

bool isTallStrip(const RecognizedWord& word, double typicalHeight) {
  const int height = word.box.height();
  return height > kStripHeightFactor * typicalHeight &&
         height > kStripHeightFactor * word.box.width() && word.confidence < kMaxStripConfidence;
}

// A chart's connector line or a rule, read as a long word of letters: far
// flatter than the page's words, far wider than tall, and with letters far
// wider than tall, which small print (a footnote, a URL) does not have.
bool isFlatRule(const RecognizedWord& word, double typicalHeight) {
  const double letterWidth =
      static_cast<double>(word.box.width()) /
      static_cast<double>(std::max<std::size_t>(1, characterCount(word.text)));
  return word.box.height() < kRuleHeightFactor * typicalHeight &&
         word.box.width() > kRuleWidthFactor * typicalHeight &&
         letterWidth > kMaxLetterWidthToHeight * word.box.height() &&
         word.confidence < kMaxStripConfidence;
}

bool isLeaderCharacter(std::string_view text, std::size_t at, std::size_t& length) {
  for (const std::string_view dot : {".", "\u00B7", "\u2026"}) {  // full stop, middle dot, ellipsis
    if (text.substr(at, dot.size()) == dot) {
      length = dot.size();
      return true;
    }
  }
  return false;
}

// Dotted leaders of a contents page or a price list ("Intro ....... 5") are
// read as runs of dots, alone or stuck to a word; an ellipsis is shorter.
std::string withoutLeaders(const std::string& text) {
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t runEnd = at;
    std::size_t dots = 0;
    std::size_t length = 0;
    while (runEnd < text.size() && isLeaderCharacter(text, runEnd, length)) {
      runEnd += length;
      ++dots;
    }
    if (dots == 0) {
      kept += text[at++];
      continue;
    }
    if (dots < kMinLeaderDots) {
      kept.append(text, at, runEnd - at);
    }
    at = runEnd;
  }
  return kept;
}

double typicalWordHeight(const std::vector<TextLine>& lines) {
  std::vector<int> heights;
  for (const TextLine& line : lines) {
    for (const RecognizedWord& word : line.words) {
      if (word.confidence >= kReliableWordConfidence) {
        heights.push_back(word.box.height());
      }
    }
  }
  return median(heights);
}

}  // namespace

std::vector<TextLine> removeNoise(std::vector<TextLine> lines) {
  const double typicalHeight = typicalWordHeight(lines);
  for (TextLine& line : lines) {
    std::vector<RecognizedWord>& words = line.words;
    if (typicalHeight > 0.0) {
      std::erase_if(words, [typicalHeight](const RecognizedWord& word) {
        return isTallStrip(word, typicalHeight) || isFlatRule(word, typicalHeight);
      });
    }
    for (RecognizedWord& word : words) {
      word.text = withoutLeaders(word.text);
    }
    std::erase_if(words,
                  [](const RecognizedWord& word) { return word.text.empty() || isSpeck(word); });
    const auto firstText = std::find_if_not(words.begin(), words.end(), looksLikeBullet);
    words.erase(words.begin(), firstText);
  }
  std::erase_if(lines, [](const TextLine& line) { return line.words.empty(); });
  return lines;
}

}  // namespace mivo::ocr
