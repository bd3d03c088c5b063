#include "recognition/recognition_languages.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace mivo::ocr {
namespace {

// English by default: every further model loaded up front ("eng+fra+deu")
// costs about a tenth of a second and slows the recognition of every page.
// A page in another language is read a second time with its own model.
constexpr const char* kDefaultLanguages = "eng";

// Model names are file names under the engine's data folder: letters,
// digits, '_' and '+' between names, nothing that could leave the folder.
bool isLanguageList(const std::string& list) {
  return !list.empty() && std::all_of(list.begin(), list.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '+';
  });
}

}  // namespace

LanguageChoice recognitionLanguages() {
  const char* configured = std::getenv("MIVO_OCR_LANGS");
  if (configured != nullptr && isLanguageList(configured)) {
    return LanguageChoice{configured, false};
  }
  return LanguageChoice{kDefaultLanguages, true};
}

}  // namespace mivo::ocr
