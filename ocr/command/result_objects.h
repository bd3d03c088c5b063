#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "recognition/recognition.h"

namespace mivo::ocr {

// {"text": lines joined by line feeds, "line_count": n, "confidence": rounded mean}
nlohmann::json makeResultObject(const std::vector<RecognizedText>& lines);

// The answer when recognition produced no observation list at all.
nlohmann::json makeEmptyResultObject();

// {"error": message}
nlohmann::json makeErrorObject(const std::string& message);

}  // namespace mivo::ocr
