#include <numbers>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "recognition/tesseract_recognizer.h"

namespace mivo::ocr::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::Matcher;
using ::testing::StartsWith;

// Sizes of the image library's own bitmap font: capitals about 16 and 26
// pixels tall, a screen's and a receipt scan's print.
constexpr int kScreenFont = 6;
constexpr int kReceiptFont = 10;

struct Placed {
  std::string text;
  int x;
  int y;
};

Image drawPage(int width, int height, int fontSize, const std::vector<Placed>& texts,
               const std::vector<Box*>& tintedAreas = {}, l_uint32 tint = 255) {
  Image page{pixCreate(width, height, 8)};
  pixSetAll(page.get());
  for (Box* area : tintedAreas) {
    pixSetInRectArbitrary(page.get(), area, tint);
    boxDestroy(&area);
  }
  L_BMF* font = bmfCreate(nullptr, fontSize);
  for (const Placed& placed : texts) {
    pixSetTextline(page.get(), font, placed.text.c_str(), 0, placed.x, placed.y, nullptr, nullptr);
  }
  bmfDestroy(&font);
  return page;
}

Image turned(const Image& page, double degrees) {
  return Image{pixRotate(page.get(), static_cast<float>(degrees * std::numbers::pi / 180.0),
                         L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, pixGetWidth(page.get()),
                         pixGetHeight(page.get()))};
}

std::vector<std::string> readLines(const Image& page) {
  TesseractRecognizer recognizer(LanguageChoice{"eng", false});
  const RecognitionOutcome outcome = recognizer.recognize(page);
  std::vector<std::string> lines;
  const auto* results = std::get_if<RecognitionResults>(&outcome);
  if (results != nullptr && *results) {
    for (const TextObservation& observation : **results) {
      lines.push_back(observation.topCandidate ? observation.topCandidate->string : "");
    }
  }
  return lines;
}

// A row read whole starts with its first cell and ends with its last; the
// letters between may come out a little wrong.
std::vector<Matcher<std::string>> rowsOf(const std::vector<std::vector<std::string>>& cells) {
  std::vector<Matcher<std::string>> rows;
  for (const std::vector<std::string>& row : cells) {
    rows.push_back(AllOf(StartsWith(row.front().substr(0, 3)), EndsWith(" " + row.back())));
  }
  return rows;
}

// A photo held by hand or a receipt fed crooked: the engine's lines follow
// the slant, and names and prices still share their rows.
TEST(DrawnLayout, TiltedReceiptKeepsItsRows) {
  const std::vector<std::vector<std::string>> items{{"ORGANIC BANANAS", "1.99"},
                                                    {"WHOLE MILK", "3.49"},
                                                    {"SOURDOUGH BREAD", "4.25"},
                                                    {"BROWN RICE", "5.10"},
                                                    {"TOTAL", "14.83"}};
  std::vector<Placed> texts;
  for (std::size_t row = 0; row < items.size(); ++row) {
    const int y = 70 + static_cast<int>(row) * 45;
    texts.push_back({items[row][0], 30, y});
    texts.push_back({items[row][1], 620, y});
  }
  const Image page = drawPage(760, 330, kReceiptFont, texts);
  for (const double degrees : {4.0, -2.5}) {
    EXPECT_THAT(readLines(turned(page, degrees)), ElementsAreArray(rowsOf(items)))
        << degrees << " degrees";
  }
}

// A table whose first column has a ground of its own, however faint: its
// border changes the ground down the page as a side bar's does.
TEST(DrawnLayout, TableWithAShadedFirstColumnIsReadRowByRow) {
  const std::vector<std::vector<std::string>> cells{
      {"Apples", "12"}, {"Pears", "7"},  {"Plums", "30"}, {"Cherries", "112"}, {"Grapes", "45"},
      {"Lemons", "8"},  {"Limes", "16"}, {"Figs", "3"},   {"Dates", "61"},     {"Kiwis", "27"}};
  std::vector<Placed> texts;
  for (std::size_t row = 0; row < cells.size(); ++row) {
    const int y = 40 + static_cast<int>(row) * 30;
    texts.push_back({cells[row][0], 20, y});
    texts.push_back({cells[row][1], 230, y});
  }
  for (const l_uint32 tint : {250U, 228U}) {
    const Image page = drawPage(400, 340, kScreenFont, texts, {boxCreate(0, 0, 200, 340)}, tint);
    EXPECT_THAT(readLines(page), ElementsAreArray(rowsOf(cells))) << "ground " << tint;
  }
}

}  // namespace
}  // namespace mivo::ocr::testing
