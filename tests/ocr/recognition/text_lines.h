#pragma once

#include <string>
#include <vector>

#include "recognition/text_line.h"

namespace mivo::ocr::testing {

struct PlacedWord {
  std::string text;
  int left;
  int top;
  int width;
  int height;
  float confidence = 95.0F;
};

inline TextLine makeLine(const std::vector<PlacedWord>& words) {
  TextLine line;
  for (const PlacedWord& placed : words) {
    const PixelBox box{placed.left, placed.top, placed.left + placed.width,
                       placed.top + placed.height};
    line.words.push_back(
        RecognizedWord{placed.text, placed.confidence, box, box.bottom, placed.height});
  }
  return line;
}

inline std::vector<std::string> textsOf(const std::vector<TextLine>& lines) {
  std::vector<std::string> texts;
  for (const TextLine& line : lines) {
    std::string text;
    for (const RecognizedWord& word : line.words) {
      text += (text.empty() ? "" : " ") + word.text;
    }
    texts.push_back(text);
  }
  return texts;
}

}  // namespace mivo::ocr::testing
