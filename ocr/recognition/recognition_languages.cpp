#include "recognition/recognition_languages.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace mivo::ocr {
namespace {

// English alone by default: every further model ("eng+fra+deu" reads
// French and German accents) costs about a tenth of a second to load and
// slows recognition of every page, which doubles the time of a screenshot.
constexpr const char* kDefaultLanguages = "eng";

// Model names are file names under the engine's data folder: letters,
// digits, '_' and '+' between names, nothing that could leave the folder.
bool isLanguageList(const std::string& list) {
  return !list.empty() && std::all_of(list.begin(), list.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '+';
  });
}

}  // namespace

std::string recognitionLanguages() {
  const char* configured = std::getenv("MIVO_OCR_LANGS");
  if (configured != nullptr && isLanguageList(configured)) {
    return configured;
  }
  return kDefaultLanguages;
}

}  // namespace mivo::ocr
