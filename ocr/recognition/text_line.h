#pragma once

#include <string>
#include <vector>

namespace mivo::ocr {

// Pixel rectangle, right and bottom exclusive.
struct PixelBox {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  [[nodiscard]] int width() const { return right - left; }
  [[nodiscard]] int height() const { return bottom - top; }
};

struct RecognizedWord {
  std::string text;
  float confidence = 0.0F;  // 0..100, as the engine reports it
  PixelBox box;
  int baseline = 0;    // y of the line the letters stand on
  int lineHeight = 0;  // the engine's text height of the word's line, ascender to descender
};

// One line of text: its words, left to right, and the engine's text block
// it belongs to (blocks are numbered in the engine's reading order).
struct TextLine {
  std::vector<RecognizedWord> words;
  int block = 0;
};

}  // namespace mivo::ocr
