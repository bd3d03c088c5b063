#include "recognition/second_look_merge.h"

#include <algorithm>
#include <iterator>

namespace mivo::ocr {
namespace {

// The confidence a reading needs to count, from either look: below it the
// engine mostly reads the edges of a cut, or fragments of a ground it
// thresholded into ink.
constexpr float kMinSureConfidence = 60.0F;
// Two readings are of the same place when one covers most of the other's box.
constexpr double kSamePlaceShare = 0.5;

double area(const PixelBox& box) {
  return box.width() > 0 && box.height() > 0 ? static_cast<double>(box.width()) * box.height()
                                             : 0.0;
}

double sharedArea(const PixelBox& a, const PixelBox& b) {
  return area(PixelBox{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                       std::min(a.bottom, b.bottom)});
}

// Whether the first look read WORD's place already: sure words of it cover
// most of WORD's own box. The first look's reading keeps the page's lines
// whole, so it stands where it is sure.
bool readAlready(const RecognizedWord& word, const std::vector<TextLine>& lines) {
  double covered = 0.0;
  for (const TextLine& line : lines) {
    for (const RecognizedWord& read : line.words) {
      if (read.confidence >= kMinSureConfidence) {
        covered += sharedArea(read.box, word.box);
      }
    }
  }
  return covered >= kSamePlaceShare * area(word.box);
}

// First-look words mostly inside WORD and less sure than it: pieces of it.
void dropPiecesOf(const RecognizedWord& word, std::vector<TextLine>& lines) {
  for (TextLine& line : lines) {
    std::erase_if(line.words, [&](const RecognizedWord& read) {
      return read.confidence < word.confidence &&
             sharedArea(read.box, word.box) >= kSamePlaceShare * area(read.box);
    });
  }
  std::erase_if(lines, [](const TextLine& line) { return line.words.empty(); });
}

void moveToPage(RecognizedWord& word, const PixelBox& origin) {
  word.box = PixelBox{word.box.left + origin.left, word.box.top + origin.top,
                      word.box.right + origin.left, word.box.bottom + origin.top};
  word.baseline += origin.top;
}

int nextFreeBlock(const std::vector<TextLine>& lines) {
  int block = 0;
  for (const TextLine& line : lines) {
    block = std::max(block, line.block);
  }
  return block + 1;
}

int topOf(const TextLine& line) {
  int top = line.words.front().box.top;
  for (const RecognizedWord& word : line.words) {
    top = std::min(top, word.box.top);
  }
  return top;
}

}  // namespace

std::vector<PixelBox> settledWordBoxes(const std::vector<TextLine>& lines) {
  std::vector<PixelBox> boxes;
  for (const TextLine& line : lines) {
    for (const RecognizedWord& word : line.words) {
      if (word.confidence >= kMinSureConfidence) {
        boxes.push_back(word.box);
      }
    }
  }
  return boxes;
}

void mergeSecondLook(std::vector<TextLine> regionLines, const PixelBox& origin,
                     std::vector<TextLine>& lines) {
  const int firstBlock = nextFreeBlock(lines);
  std::vector<TextLine> kept;
  for (TextLine& line : regionLines) {
    line.block += firstBlock;
    std::erase_if(line.words, [&](RecognizedWord& word) {
      moveToPage(word, origin);
      return word.confidence < kMinSureConfidence || readAlready(word, lines);
    });
    for (const RecognizedWord& word : line.words) {
      dropPiecesOf(word, lines);
    }
    if (!line.words.empty()) {
      kept.push_back(std::move(line));
    }
  }
  const auto below = std::find_if(lines.begin(), lines.end(), [&](const TextLine& line) {
    return topOf(line) >= origin.bottom;
  });
  lines.insert(below, std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
}

}  // namespace mivo::ocr
