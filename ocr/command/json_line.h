#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace mivo::ocr {

// Compact JSON text of one object, without a trailing line feed. Every
// solidus in a string is written as "\/", invalid UTF-8 becomes U+FFFD (so a
// line is always produced), and numbers read back as the same double.
std::string serializeJsonLine(const nlohmann::json& object);

}  // namespace mivo::ocr
