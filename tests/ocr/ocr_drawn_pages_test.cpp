#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "drawn_pages.h"

namespace mivo::ocr::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<DrawnLine> kReport{{"Quarterly report for the northern region"},
                                     {"Revenue grew by 12 percent over the year"},
                                     {"Costs fell in every office but one"},
                                     {"The board meets again on Friday at noon"}};
const char* const kReportText =
    "Quarterly report for the northern region\nRevenue grew by 12 percent over the year\n"
    "Costs fell in every office but one\nThe board meets again on Friday at noon";

// The program on pictures drawn for each fault it once had.
class OcrDrawnPage : public ::testing::Test {
 protected:
  void SetUp() override {
    workDir_ = fs::temp_directory_path() /
               ("mivo-ocr-drawn-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(workDir_);
  }
  void TearDown() override { fs::remove_all(workDir_); }

  fs::path work(const std::string& name) const { return workDir_ / name; }

  static std::string textOf(const fs::path& image) {
    const ProcessResult result = runProcess({MIVO_OCR_BINARY, image.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    return nlohmann::json::parse(result.standardOutput).at("text").get<std::string>();
  }

 private:
  fs::path workDir_;
};

// A thumbnail or a scaled screen share: lines of 10-11 px, which the engine
// reads well only once enlarged to its best size.
TEST_F(OcrDrawnPage, ScreenAtAQuarterOfItsSizeReadsAsAtFullSize) {
  writeTextPage(kReport, 0.25, work("quarter.png"));
  EXPECT_EQ(textOf(work("quarter.png")), kReportText);
}

// Specks of texture are no small text: nothing to enlarge, nothing to read.
TEST_F(OcrDrawnPage, TextureGivesNoText) {
  writeTexture(600, 600, work("texture.png"));
  EXPECT_EQ(textOf(work("texture.png")), "");
}

// A URL in small print under a heading is flat and wide, like a rule.
TEST_F(OcrDrawnPage, SmallPrintUnderLargeTextIsKept) {
  writeTextPage(
      {{"Download the annual report", 20}, {"https://www.example.com/reports/annual-2024.pdf", 6}},
      1.0, work("small-print.png"));
  EXPECT_EQ(textOf(work("small-print.png")),
            "Download the annual report\nhttps://www.example.com/reports/annual-2024.pdf");
}

TEST_F(OcrDrawnPage, SmallLightTextOnADarkCardIsReadWhole) {
  writePageWithDarkCard({{"Weekly dashboard"}, {"Orders shipped on time this week"}},
                        {{"Active users 1204", 6}, {"Open tickets 37", 6}}, work("card.png"));
  EXPECT_EQ(
      textOf(work("card.png")),
      "Weekly dashboard\nOrders shipped on time this week\nActive users 1204\nOpen tickets 37");
}

class OcrTransparentGround : public OcrDrawnPage,
                             public ::testing::WithParamInterface<std::string> {};

// The hidden colour of the transparent ground is black, like the text.
TEST_P(OcrTransparentGround, IsReadAsWhite) {
  const fs::path image = work("text." + GetParam());
  writeTextOnTransparentGround(kReport, GetParam(), image);
  EXPECT_EQ(textOf(image), kReportText);
}

INSTANTIATE_TEST_SUITE_P(FormatsWithTransparency, OcrTransparentGround,
                         ::testing::Values("png", "tif", "webp", "heic", "gif"),
                         [](const auto& format) { return format.param; });

}  // namespace
}  // namespace mivo::ocr::testing
