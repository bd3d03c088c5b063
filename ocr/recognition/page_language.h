#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivo::ocr {

// The engine's model for the language a page is written in, when its text
// as the English model read it shows a language other than English through
// its most common words ("fra" for "le", "les", "est", …). Those words have
// no accents, so the English model reads them right; the accented words
// around them come out right only with the language's own model.
std::optional<std::string> pageLanguageModel(std::string_view text);

}  // namespace mivo::ocr
