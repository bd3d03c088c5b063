#pragma once

#include "command/line_reduction.h"

#include <nlohmann/json.hpp>
#include <string>

namespace mivo::ocr {

// {"text": lines joined by line feeds, "line_count": n, "confidence": rounded mean}
nlohmann::json makeResultObject(const ReducedLines& reduced);

// The answer when recognition produced no observation list at all.
nlohmann::json makeEmptyResultObject();

// {"error": message}
nlohmann::json makeErrorObject(const std::string& message);

}  // namespace mivo::ocr
