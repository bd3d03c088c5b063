#pragma once

#include "recognition/recognition.h"
#include "recognition/text_line.h"

#include <memory>
#include <string>
#include <vector>

struct Pix;

namespace tesseract {
class TessBaseAPI;
}

namespace mivo::ocr {

// Recognition on Tesseract's LSTM engine with its dictionaries, one
// observation per text line. The models ("eng+fra") are loaded on the first
// request.
class TesseractRecognizer final : public TextRecognizer {
 public:
  explicit TesseractRecognizer(std::string languages);
  ~TesseractRecognizer() override;
  TesseractRecognizer(const TesseractRecognizer&) = delete;
  TesseractRecognizer& operator=(const TesseractRecognizer&) = delete;

  RecognitionOutcome recognize(const Image& image) override;

 private:
  bool ensureModelLoaded();
  std::vector<TextLine> readLines();
  void readUncoveredRegions(Pix* page, std::vector<TextLine>& lines);

  std::unique_ptr<tesseract::TessBaseAPI> api_;
  std::string languages_;
  bool modelLoaded_ = false;
};

}  // namespace mivo::ocr
