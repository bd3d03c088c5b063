#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recognition/recognition.h"
#include "recognition/recognition_languages.h"
#include "recognition/text_line.h"

struct Pix;

namespace tesseract {
class TessBaseAPI;
}

namespace mivo::ocr {

// Recognition on Tesseract's LSTM engine with its dictionaries, one
// observation per text line. The models ("eng+fra") are loaded on the first
// request, a page language's model when a page needs it.
class TesseractRecognizer final : public TextRecognizer {
 public:
  explicit TesseractRecognizer(LanguageChoice languages);
  ~TesseractRecognizer() override;
  TesseractRecognizer(const TesseractRecognizer&) = delete;
  TesseractRecognizer& operator=(const TesseractRecognizer&) = delete;

  RecognitionOutcome recognize(const Image& image) override;

 private:
  bool loadModels(const std::string& models);
  Image pageAtReadingSize(const Image& image);
  std::optional<std::vector<TextLine>> readHeldPage(Pix* page);
  std::vector<TextLine> readLines();
  void readUncoveredRegions(Pix* page, std::vector<TextLine>& lines);
  void followPageLanguage(Pix* page, std::vector<TextLine>& lines);

  std::unique_ptr<tesseract::TessBaseAPI> api_;
  LanguageChoice languages_;
  std::string loadedModels_;
};

}  // namespace mivo::ocr
