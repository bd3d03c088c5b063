#pragma once

#include <string>

namespace mivo::ocr {

// The engine's language models to load, as "eng+fra", and whether a page
// whose text shows another language is read again with that language's
// model first.
struct LanguageChoice {
  std::string models;
  bool followPageLanguage = false;
};

// MIVO_OCR_LANGS when it names models in that form, used as it stands;
// else English, following each page's language.
LanguageChoice recognitionLanguages();

}  // namespace mivo::ocr
