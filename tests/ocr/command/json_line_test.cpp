#include "command/json_line.h"

#include <limits>

#include <gtest/gtest.h>

namespace mivo::ocr {
namespace {

TEST(JsonLine, ConfidenceReadsBackAsTheSameDouble) {
  for (const double value : {0.063, 0.1, 1.0 / 3.0, 0.999, 1e-3, 0.0}) {
    const std::string text = serializeJsonLine(nlohmann::json{{"confidence", value}});
    EXPECT_EQ(nlohmann::json::parse(text).at("confidence").get<double>(), value) << text;
  }
}

TEST(JsonLine, SolidusEscapedOnlyInsideStringsAndReadsBack) {
  const nlohmann::json object{{"error", "File not found: /a//b/"}, {"line_count", 2}};
  const std::string text = serializeJsonLine(object);
  EXPECT_EQ(text, R"({"error":"File not found: \/a\/\/b\/","line_count":2})");
  EXPECT_EQ(nlohmann::json::parse(text), object);
}

TEST(JsonLine, ControlCharactersAndLineFeedsStayOnOneLine) {
  const std::string text = serializeJsonLine(nlohmann::json{{"text", "a\nb\r\x01"}});
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(text).at("text"), "a\nb\r\x01");
}

TEST(JsonLine, InvalidUtf8BecomesReplacementCharacters) {
  const std::string text =
      serializeJsonLine(nlohmann::json{{"text", std::string("ok \xC3 \xE2\x82 \x80 \xC3\xA9")}});
  EXPECT_EQ(nlohmann::json::parse(text).at("text"),
            "ok \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD \xC3\xA9");
}

TEST(JsonLine, NonAsciiTextIsWrittenAsUtf8) {
  EXPECT_EQ(serializeJsonLine(nlohmann::json{{"text",
                                              "Gr\xC3\xBC\xC3\x9F"
                                              "e \xE2\x82\xAC"}}),
            "{\"text\":\"Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC\"}");
}

}  // namespace
}  // namespace mivo::ocr
