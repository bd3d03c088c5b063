#pragma once

#include <string>

namespace mivo::ocr {

// The engine's language models to load, as "eng+fra": MIVO_OCR_LANGS when it
// names models in that form, else the default set.
std::string recognitionLanguages();

}  // namespace mivo::ocr
