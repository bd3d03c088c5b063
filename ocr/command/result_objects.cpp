#include "command/result_objects.h"

#include <cstdint>

namespace mivo::ocr {
namespace {

std::string joinWithLineFeeds(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (index > 0) {
      text += '\n';
    }
    text += lines[index];
  }
  return text;
}

}  // namespace

nlohmann::json makeResultObject(const ReducedLines& reduced) {
  return nlohmann::json{
      {"text", joinWithLineFeeds(reduced.lines)},
      {"line_count", static_cast<std::int64_t>(reduced.lines.size())},
      {"confidence", roundToThousandths(meanConfidence(reduced))},
  };
}

nlohmann::json makeEmptyResultObject() { return makeResultObject(ReducedLines{}); }

nlohmann::json makeErrorObject(const std::string& message) {
  return nlohmann::json{{"error", message}};
}

}  // namespace mivo::ocr
