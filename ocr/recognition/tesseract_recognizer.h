#pragma once

#include "recognition/recognition.h"
#include "recognition/text_line.h"

#include <memory>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace mivo::ocr {

// Recognition on Tesseract's LSTM engine with its dictionary, one observation
// per text line. The model is loaded on the first request.
class TesseractRecognizer final : public TextRecognizer {
 public:
  TesseractRecognizer();
  ~TesseractRecognizer() override;
  TesseractRecognizer(const TesseractRecognizer&) = delete;
  TesseractRecognizer& operator=(const TesseractRecognizer&) = delete;

  RecognitionOutcome recognize(const Image& image) override;

 private:
  bool ensureModelLoaded();
  std::vector<TextLine> readLines();

  std::unique_ptr<tesseract::TessBaseAPI> api_;
  bool modelLoaded_ = false;
};

}  // namespace mivo::ocr
