#include "command/result_objects.h"

#include <cstdint>

#include "command/line_reduction.h"
#include "recognition/line_joining.h"
#include "recognition/mean_confidence.h"

namespace mivo::ocr {

nlohmann::json makeResultObject(const std::vector<RecognizedText>& lines) {
  return nlohmann::json{
      {"text", joinLines(lines, &RecognizedText::string)},
      {"line_count", static_cast<std::int64_t>(lines.size())},
      {"confidence", roundToThousandths(meanConfidence(lines, &RecognizedText::confidence))},
  };
}

nlohmann::json makeEmptyResultObject() { return makeResultObject({}); }

nlohmann::json makeErrorObject(const std::string& message) {
  return nlohmann::json{{"error", message}};
}

}  // namespace mivo::ocr
