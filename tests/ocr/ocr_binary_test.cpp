#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "test_images.h"

namespace mivo::ocr::testing {
namespace {

namespace fs = std::filesystem;

const char* const kFirstPageText = "Quarterly report\nRevenue grew by 12 percent";

class OcrBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    // A parameterised case's name holds a '/': one folder, not two, so
    // TearDown removes all of it.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    workDir_ =
        fs::temp_directory_path() / ("mivo-ocr-test-" + std::to_string(getpid()) + "-" + name);
    fs::create_directories(workDir_);
  }
  void TearDown() override { fs::remove_all(workDir_); }

  static fs::path data(const std::string& name) { return fs::path(MIVO_OCR_TEST_DATA) / name; }
  fs::path work(const std::string& name) const { return workDir_ / name; }

  // Every run, whatever the outcome: one line on stdout, nothing on stderr.
  static nlohmann::json runAndParse(const std::vector<std::string>& arguments, int expectedStatus,
                                    std::string* rawLine = nullptr,
                                    const std::vector<std::string>& environment = {}) {
    std::vector<std::string> argv{MIVO_OCR_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProcessResult result = runProcess(argv, environment);
    EXPECT_EQ(result.exitStatus, expectedStatus) << result.standardOutput;
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(std::count(result.standardOutput.begin(), result.standardOutput.end(), '\n'), 1);
    EXPECT_TRUE(result.standardOutput.ends_with('\n')) << result.standardOutput;
    if (rawLine != nullptr) {
      *rawLine = result.standardOutput;
    }
    return nlohmann::json::parse(result.standardOutput);
  }

  static nlohmann::json error(const std::string& message) { return {{"error", message}}; }

 private:
  fs::path workDir_;
};

TEST_F(OcrBinary, WithoutArgumentPrintsUsage) {
  EXPECT_EQ(runAndParse({}, 1), error("Usage: mivo-ocr <image_path>"));
}

TEST_F(OcrBinary, MissingPathWithSlashesIsEscapedAndReadsBack) {
  const std::string path = work("no/such dir/shot.png").string();
  std::string line;
  EXPECT_EQ(runAndParse({path}, 1, &line), error("File not found: " + path));
  std::string escaped;
  for (const char character : path) {
    escaped += character == '/' ? std::string("\\/") : std::string(1, character);
  }
  EXPECT_NE(line.find(escaped), std::string::npos) << line;
}

TEST_F(OcrBinary, InvalidUtf8PathStillGivesOneLine) {
  const std::string path = work("bad\xff.png").string();
  const std::string shown = work("bad\xEF\xBF\xBD.png").string();
  EXPECT_EQ(runAndParse({path}, 1), error("File not found: " + shown));
}

TEST_F(OcrBinary, DirectoryFifoAndHugeFileFailAsImageSource) {
  ASSERT_EQ(mkfifo(work("fifo").c_str(), 0600), 0);
  std::ofstream(work("huge.bin")).close();
  fs::resize_file(work("huge.bin"), (1ULL << 30) + 1);  // sparse: takes no disk space
  for (const std::string& path :
       {work("").string(), work("fifo").string(), work("huge.bin").string()}) {
    EXPECT_EQ(runAndParse({path}, 1), error("Failed to create image source from: " + path));
  }
}

TEST_F(OcrBinary, UndecodableFilesFailToLoad) {
  std::ofstream(work("notes.txt")) << "plain text, no image\n";
  std::ifstream png(data("first_page.png"), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(png), std::istreambuf_iterator<char>()};
  std::ofstream(work("truncated.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  writePngDeclaring(50'000, 50'000, work("huge.png"));
  for (const char* name : {"notes.txt", "truncated.png", "huge.png"}) {
    const std::string path = work(name).string();
    EXPECT_EQ(runAndParse({path}, 1), error("Failed to load image at index 0 from: " + path));
  }
}

TEST_F(OcrBinary, AncillaryChunksCostNoMemoryAndDoNotStopDecoding) {
  writePngDeclaringHugeText(work("huge-text.png"));
  const std::string path = work("huge-text.png").string();
  const ProcessResult result = runProcess({MIVO_OCR_BINARY, path});
  EXPECT_EQ(nlohmann::json::parse(result.standardOutput),
            error("Failed to load image at index 0 from: " + path));
  constexpr long kFewModulesKiB = 64 * 1024;
  EXPECT_LT(result.peakMemoryKiB, kFewModulesKiB);

  writePngWithTextChunk(data("first_page.png"), 3 << 20, work("long-text.png"));
  EXPECT_EQ(runAndParse({work("long-text.png").string()}, 0).at("text"), kFirstPageText);
}

TEST_F(OcrBinary, HeifWithTheGenericImageBrandIsDecoded) {
  convertImage(data("first_page.png"), "heic", work("text.heic"));
  std::fstream file(work("text.heic"), std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(8);  // the major brand of the leading file-type box
  file.write("mif1", 4);
  file.close();
  EXPECT_EQ(runAndParse({work("text.heic").string()}, 0).at("text"), kFirstPageText);
}

TEST_F(OcrBinary, RelativePathStaysRelativeAndExtraArgumentsAreIgnored) {
  const fs::path previous = fs::current_path();
  fs::current_path(fs::path(MIVO_OCR_TEST_DATA).parent_path());
  const nlohmann::json result = runAndParse({"data/first_page.png", "ignored", "-x"}, 0);
  const nlohmann::json missing = runAndParse({"data/../data/absent.png"}, 1);
  fs::current_path(previous);
  EXPECT_EQ(result.at("text"), kFirstPageText);
  EXPECT_EQ(missing, error("File not found: data/../data/absent.png"));
}

TEST_F(OcrBinary, CmykJpegReadsTheTextBack) {
  EXPECT_EQ(runAndParse({data("first_page_cmyk.jpg").string()}, 0).at("text"), kFirstPageText);
}

TEST_F(OcrBinary, ImageWithoutTextGivesTheEmptyResult) {
  writeBlankPng(400, 300, work("blank.png"));
  std::string line;
  runAndParse({work("blank.png").string()}, 0, &line);
  EXPECT_EQ(line, "{\"confidence\":0.0,\"line_count\":0,\"text\":\"\"}\n");
}

TEST_F(OcrBinary, MultiPageTiffReadsOnlyTheFirstPage) {
  writeTwoPageTiff(data("first_page.png"), data("second_page.png"), work("pages.tif"));
  EXPECT_EQ(runAndParse({work("pages.tif").string()}, 0).at("text"), kFirstPageText);
  writeTwoPageTiff(data("second_page.png"), data("first_page.png"), work("swapped.tif"));
  EXPECT_EQ(runAndParse({work("swapped.tif").string()}, 0).at("text"), "Second page only");
}

// One threshold for the whole page makes the band solid ink.
TEST_F(OcrBinary, TextOnAGreyBandIsReadInItsPlace) {
  writeWithBannerBelow(data("first_page.png"), data("second_page.png"), work("banner.png"));
  EXPECT_EQ(runAndParse({work("banner.png").string()}, 0).at("text"),
            std::string(kFirstPageText) + "\nSecond page only");
}

TEST_F(OcrBinary, PageInFrenchKeepsItsAccents) {
  EXPECT_EQ(runAndParse({data("french_page.tif").string()}, 0).at("text"),
            "Où est l'hôtel ? Le café est à côté de la gare,\nprès du musée. Nous avons réservé "
            "une chambre\npour deux nuits et le dîner est déjà prêt.");
}

TEST_F(OcrBinary, EngineFailureIsReportedWithoutWritingToStandardError) {
  EXPECT_EQ(runAndParse({data("first_page.png").string()}, 1, nullptr,
                        {"TESSDATA_PREFIX=" + work("no-models").string(), "MIVO_OCR_LANGS=eng"}),
            error("Vision request failed: The text-recognition models eng could not be loaded."));
}

class OcrBinaryFormat : public OcrBinary, public ::testing::WithParamInterface<std::string> {};

TEST_P(OcrBinaryFormat, ReadsTheTextBack) {
  const fs::path image = work("text." + GetParam());
  convertImage(data("first_page.png"), GetParam(), image);
  const nlohmann::json result = runAndParse({image.string()}, 0);
  EXPECT_EQ(result.at("text"), kFirstPageText);
  EXPECT_EQ(result.at("line_count"), 2);
  EXPECT_GT(result.at("confidence").get<double>(), 0.8);
  EXPECT_LE(result.at("confidence").get<double>(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(EverySupportedFormat, OcrBinaryFormat,
                         ::testing::Values("png", "jpg", "tif", "bmp", "gif", "webp", "pnm",
                                           "heic"),
                         [](const auto& format) { return format.param; });

}  // namespace
}  // namespace mivo::ocr::testing
