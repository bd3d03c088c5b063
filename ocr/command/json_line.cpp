#include "command/json_line.h"

namespace mivo::ocr {
namespace {

// A solidus can only occur inside strings in JSON text, so escaping it after
// serialisation cannot touch the structure.
std::string escapeSolidus(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char character : text) {
    if (character == '/') {
      escaped += '\\';
    }
    escaped += character;
  }
  return escaped;
}

}  // namespace

std::string serializeJsonLine(const nlohmann::json& object) {
  constexpr int kCompact = -1;
  constexpr bool kKeepUnicode = false;
  return escapeSolidus(
      object.dump(kCompact, ' ', kKeepUnicode, nlohmann::json::error_handler_t::replace));
}

}  // namespace mivo::ocr
