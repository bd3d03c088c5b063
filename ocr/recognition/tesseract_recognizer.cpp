#include "recognition/tesseract_recognizer.h"

#include "recognition/layout/layout_order.h"
#include "recognition/noise_filter.h"
#include "recognition/openmp_thread_cap.h"
#include "recognition/text_scale.h"

#include <algorithm>
#include <cctype>
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

namespace mivo::ocr {
namespace {

std::string takeText(char* text) {
  const std::unique_ptr<char[]> owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

RecognizedWord currentWord(const tesseract::ResultIterator& iterator, std::string text) {
  RecognizedWord word{std::move(text), iterator.Confidence(tesseract::RIL_WORD), {}, 0};
  PixelBox& box = word.box;
  iterator.BoundingBox(tesseract::RIL_WORD, &box.left, &box.top, &box.right, &box.bottom);
  int x1 = 0;
  int y1 = box.bottom;
  int x2 = 0;
  int y2 = box.bottom;
  iterator.Baseline(tesseract::RIL_WORD, &x1, &y1, &x2, &y2);
  word.baseline = (y1 + y2) / 2;
  return word;
}

bool hasVisibleCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)) == 0; });
}

std::string joinWords(const TextLine& line) {
  std::string text;
  for (const RecognizedWord& word : line.words) {
    if (!text.empty()) {
      text += ' ';
    }
    text += word.text;
  }
  return text;
}

// Lines are split and joined by the layout step, so a line's confidence is
// that of its words.
float meanConfidence(const TextLine& line) {
  float sum = 0.0F;
  for (const RecognizedWord& word : line.words) {
    sum += word.confidence;
  }
  return sum / static_cast<float>(line.words.size());
}

TextObservation toObservation(const TextLine& line) {
  return TextObservation{RecognizedText{joinWords(line), meanConfidence(line) / 100.0F}};
}

}  // namespace

TesseractRecognizer::TesseractRecognizer(std::string languages)
    : api_(std::make_unique<tesseract::TessBaseAPI>()), languages_(std::move(languages)) {
  runParallelRegionsSingleThreaded();
}

TesseractRecognizer::~TesseractRecognizer() = default;

bool TesseractRecognizer::ensureModelLoaded() {
  if (modelLoaded_) {
    return true;
  }
  // The engine's diagnostics go to this file instead of standard error.
  api_->SetVariable("debug_file", "/dev/null");
  modelLoaded_ = api_->Init(nullptr, languages_.c_str(), tesseract::OEM_LSTM_ONLY) == 0;
  if (modelLoaded_) {
    // Automatic page segmentation: screens mix columns, blocks and tables.
    api_->SetPageSegMode(tesseract::PSM_AUTO);
  }
  return modelLoaded_;
}

std::vector<TextLine> TesseractRecognizer::readLines() {
  std::vector<TextLine> lines;
  const std::unique_ptr<tesseract::ResultIterator> iterator(api_->GetIterator());
  if (!iterator) {
    return lines;
  }
  int block = 0;
  do {
    if (iterator->IsAtBeginningOf(tesseract::RIL_BLOCK)) {
      ++block;
    }
    if (iterator->IsAtBeginningOf(tesseract::RIL_TEXTLINE) || lines.empty()) {
      lines.push_back(TextLine{{}, block});
    }
    std::string text = takeText(iterator->GetUTF8Text(tesseract::RIL_WORD));
    if (hasVisibleCharacter(text)) {
      lines.back().words.push_back(currentWord(*iterator, std::move(text)));
    }
  } while (iterator->Next(tesseract::RIL_WORD));
  std::erase_if(lines, [](const TextLine& line) { return line.words.empty(); });
  return lines;
}

RecognitionOutcome TesseractRecognizer::recognize(const Image& image) {
  if (!ensureModelLoaded()) {
    return RecognitionFailure{"The text-recognition models " + languages_ +
                              " could not be loaded."};
  }
  const Image prepared = prepareForRecognition(image);
  api_->SetImage(prepared ? prepared.get() : image.get());
  if (api_->Recognize(nullptr) != 0) {
    return RecognitionFailure{"Text recognition could not run on this image."};
  }
  std::vector<TextObservation> observations;
  for (const TextLine& line : orderByLayout(removeNoise(readLines()))) {
    observations.push_back(toObservation(line));
  }
  return RecognitionResults{std::move(observations)};
}

}  // namespace mivo::ocr
