#include "recognition/layout/layout_order.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recognition/text_lines.h"

namespace mivo::ocr::testing {
namespace {

using ::testing::ElementsAre;

constexpr int kHeight = 12;

TEST(LayoutOrder, TableReadColumnByColumnComesOutRowByRow) {
  const std::vector<int> columns{20, 240, 420};
  const std::vector<std::vector<std::string>> cells{{"Name", "Owner", "Due"},
                                                    {"Budget", "Alice", "May"},
                                                    {"Launch", "Bruno", "June"},
                                                    {"Hiring", "Carla", "July"}};
  std::vector<TextLine> engineLines;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    for (std::size_t row = 0; row < cells.size(); ++row) {
      engineLines.push_back(makeLine(
          {{cells[row][column], columns[column], 20 + static_cast<int>(row) * 30, 60, kHeight}}));
    }
  }
  EXPECT_THAT(
      textsOf(orderByLayout(engineLines)),
      ElementsAre("Name Owner Due", "Budget Alice May", "Launch Bruno June", "Hiring Carla July"));
}

TEST(LayoutOrder, MetricCardsReadAcrossComeOutCardByCard) {
  // The engine joins each row of three cards into one line.
  const std::vector<TextLine> engineLines{
      makeLine(
          {{"Users", 20, 20, 50, 10}, {"Revenue", 340, 20, 70, 10}, {"Churn", 660, 20, 50, 10}}),
      makeLine({{"3,400", 20, 50, 90, 24}, {"$12k", 340, 50, 80, 24}, {"2%", 660, 50, 40, 24}}),
      makeLine({{"+4%", 20, 90, 40, 10}, {"-1%", 340, 90, 40, 10}, {"+0.5%", 660, 90, 50, 10}})};
  EXPECT_THAT(
      textsOf(orderByLayout(engineLines)),
      ElementsAre("Users", "3,400", "+4%", "Revenue", "$12k", "-1%", "Churn", "2%", "+0.5%"));
}

TEST(LayoutOrder, SidePanelComesBeforeTheMainPane) {
  std::vector<TextLine> engineLines;
  for (int index = 0; index < 4; ++index) {
    engineLines.push_back(
        makeLine({{"main" + std::to_string(index), 250, 20 + index * 20, 600, kHeight}}));
    engineLines.push_back(
        makeLine({{"side" + std::to_string(index), 20, 28 + index * 33, 90, kHeight}}));
  }
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("side0", "side1", "side2", "side3", "main0", "main1", "main2", "main3"));
}

TEST(LayoutOrder, SidePanelItemsOffTheTextBaselinesAreNotATable) {
  // Panel items and text lines pair up row by row, but each pair is half a
  // line apart vertically.
  std::vector<TextLine> engineLines;
  for (int index = 0; index < 3; ++index) {
    const int panelTop = 87 + index * 33;
    engineLines.push_back(makeLine({{"item" + std::to_string(index), 20, panelTop, 60, 13}}));
    engineLines.push_back(makeLine({{"text" + std::to_string(index), 250, panelTop + 6, 40, 13},
                                    {"goes", 295, panelTop + 6, 40, 13},
                                    {"on", 340, panelTop + 6, 20, 13}}));
  }
  EXPECT_THAT(
      textsOf(orderByLayout(engineLines)),
      ElementsAre("item0", "item1", "item2", "text0 goes on", "text1 goes on", "text2 goes on"));
}

TEST(LayoutOrder, ColumnsOfRunningTextAreReadOneAfterTheOther) {
  std::vector<TextLine> engineLines;
  for (int row = 0; row < 4; ++row) {
    for (const auto& [column, left] : {std::pair{"left", 30}, std::pair{"right", 520}}) {
      std::vector<PlacedWord> words;
      for (int word = 0; word < 7; ++word) {
        words.push_back({std::string(column) + std::to_string(row), left + word * 60, 40 + row * 20,
                         50, kHeight});
      }
      engineLines.push_back(makeLine(words));
    }
  }
  const std::vector<std::string> texts = textsOf(orderByLayout(engineLines));
  ASSERT_EQ(texts.size(), 8U);
  EXPECT_EQ(texts[0].substr(0, 5), "left0");
  EXPECT_EQ(texts[3].substr(0, 5), "left3");
  EXPECT_EQ(texts[4].substr(0, 6), "right0");
}

TEST(LayoutOrder, ParagraphKeepsItsLinesAndWordSpaces) {
  const std::vector<TextLine> engineLines{
      makeLine({{"Heading", 20, 10, 120, 20}}),
      makeLine({{"first", 20, 50, 40, kHeight}, {"line", 64, 50, 30, kHeight}}),
      makeLine({{"second", 20, 70, 50, kHeight}, {"line", 74, 70, 30, kHeight}})};
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Heading", "first line", "second line"));
}

TEST(LayoutOrder, RunningTextBlocksKeepTheEnginesOrder) {
  // Two columns the engine found as blocks, a narrow gutter between them and
  // a paragraph break at the same height in both: cutting the page anew
  // would read across the gutter.
  std::vector<TextLine> engineLines;
  for (const auto& [block, left] : {std::pair{1, 30}, std::pair{2, 420}}) {
    for (const int top : {40, 60, 140}) {
      const int row = top / 60;
      std::vector<PlacedWord> words;
      for (int word = 0; word < 6; ++word) {
        words.push_back({"b" + std::to_string(block) + "r" + std::to_string(row), left + word * 60,
                         top, 50, kHeight});
      }
      engineLines.push_back(makeLine(words));
      engineLines.back().block = block;
    }
  }
  const std::vector<std::string> texts = textsOf(orderByLayout(engineLines));
  ASSERT_EQ(texts.size(), 6U);
  EXPECT_EQ(texts[2].substr(0, 4), "b1r2");
  EXPECT_EQ(texts[3].substr(0, 4), "b2r0");
}

TEST(LayoutOrder, ReceiptRowsStayWhole) {
  // Labels and their values far apart on one row; item lines with a
  // description line under each.
  const std::vector<TextLine> engineLines{
      makeLine({{"1938", 20, 20, 40, kHeight},
                {"2", 200, 20, 10, kHeight},
                {"13.78", 400, 20, 50, kHeight}}),
      makeLine({{"ROLLER", 20, 40, 60, kHeight}, {"SET", 85, 40, 30, kHeight}}),
      makeLine({{"1618", 20, 60, 40, kHeight},
                {"1", 200, 60, 10, kHeight},
                {"40.28", 400, 60, 50, kHeight}}),
      makeLine({{"PAINT", 20, 80, 60, kHeight}}),
      makeLine({{"2430", 20, 100, 40, kHeight},
                {"2", 200, 100, 10, kHeight},
                {"36.04", 400, 100, 50, kHeight}}),
      makeLine({{"Discount", 20, 140, 80, kHeight}, {"0.00", 400, 140, 40, kHeight}}),
      makeLine({{"Total", 20, 160, 50, kHeight}, {"94.87", 400, 160, 50, kHeight}})};
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("1938 2 13.78", "ROLLER SET", "1618 1 40.28", "PAINT", "2430 2 36.04",
                          "Discount 0.00", "Total 94.87"));
}

TEST(LayoutOrder, ReceiptRowsStayWholeWhenASpeckStretchesALabel) {
  std::vector<TextLine> engineLines{
      makeLine({{"Cashier", 20, 20, 70, kHeight}, {"USER", 400, 20, 40, kHeight}}),
      makeLine({{"Salesperson", 20, 40, 110, kHeight}, {"Ref.", 400, 40, 40, kHeight}}),
      makeLine({{"Total", 20, 60, 50, kHeight}, {"94.87", 400, 60, 50, kHeight}})};
  // The speck hangs under the label; the engine's baseline and line height
  // stay those of the text.
  engineLines[0].words[0].box.bottom += 2 * kHeight;
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Cashier", "USER", "Salesperson", "Ref.", "Total", "94.87"));
}

TEST(LayoutOrder, ReceiptItemWithoutItsQuantityStaysOnItsRow) {
  // The item's quantity mark, left of "D", was dropped as noise.
  const std::vector<TextLine> engineLines{
      makeLine({{"Cashier", 20, 20, 70, kHeight}, {"Pax", 400, 20, 30, kHeight}}),
      makeLine({{"Qty", 20, 40, 30, kHeight}, {"Total", 400, 40, 50, kHeight}}),
      makeLine({{"D", 400, 60, 10, kHeight}, {"8.00", 420, 60, 40, kHeight}}),
      makeLine({{"Omelette", 40, 80, 80, kHeight}})};
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Cashier", "Pax", "Qty", "Total", "D 8.00", "Omelette"));
}

TEST(LayoutOrder, ParagraphsLastLineInABlockOfItsOwnFollowsIt) {
  std::vector<TextLine> engineLines;
  const auto addBlock = [&engineLines](int block, int left, int top, int words) {
    std::vector<PlacedWord> placed;
    for (int word = 0; word < words; ++word) {
      placed.push_back({"b" + std::to_string(block), left + word * 60, top, 50, kHeight});
    }
    engineLines.push_back(makeLine(placed));
    engineLines.back().block = block;
  };
  for (const int top : {40, 60, 80, 100}) {
    addBlock(1, 30, top, 6);
  }
  addBlock(2, 30, 120, 6);
  addBlock(3, 420, 40, 1);
  addBlock(3, 420, 60, 1);
  const std::vector<std::string> texts = textsOf(orderByLayout(engineLines));
  ASSERT_EQ(texts.size(), 7U);
  EXPECT_EQ(texts[4].substr(0, 2), "b2");
}

TEST(LayoutOrder, SideBarBesideAnEditorIsReadBeforeIt) {
  // File names share rows with the first code lines; a change of ground
  // divides them.
  std::vector<TextLine> engineLines;
  const std::vector<std::string> files{"README", "main.c", "util.c"};
  const std::vector<std::string> code{"int main() {", "int n = 0;", "n++;", "return n;", "}"};
  for (std::size_t row = 0; row < code.size(); ++row) {
    const int top = 40 + static_cast<int>(row) * 30;
    if (row < files.size()) {
      engineLines.push_back(makeLine({{files[row], 20, top, 70, kHeight}}));
    }
    engineLines.push_back(makeLine({{code[row], 320, top, 120, kHeight}}));
  }
  EXPECT_THAT(textsOf(orderByLayout(engineLines, {PaneEdge{250, 0, 400}})),
              ElementsAre("README", "main.c", "util.c", "int main() {", "int n = 0;", "n++;",
                          "return n;", "}"));
  // A word across the line shows it is no border between panes.
  engineLines.push_back(makeLine({{"banner", 200, 10, 100, kHeight}}));
  EXPECT_EQ(textsOf(orderByLayout(engineLines, {PaneEdge{250, 0, 400}})).at(1),
            "README int main() {");
  engineLines.pop_back();
  // With as many names as lines, the rows line up line for line: a table
  // with a shaded first column.
  engineLines.push_back(makeLine({{"notes.md", 20, 130, 70, kHeight}}));
  engineLines.push_back(makeLine({{"Makefile", 20, 160, 70, kHeight}}));
  EXPECT_EQ(textsOf(orderByLayout(engineLines, {PaneEdge{250, 0, 400}})).at(0),
            "README int main() {");
}

TEST(LayoutOrder, MessagesTakingTurnsAreReadInTurn) {
  const std::vector<TextLine> engineLines{
      makeLine({{"Hello", 20, 20, 60, kHeight}}), makeLine({{"Hi there", 600, 50, 90, kHeight}}),
      makeLine({{"Lunch?", 20, 80, 60, kHeight}}), makeLine({{"Sure", 620, 110, 50, kHeight}})};
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Hello", "Hi there", "Lunch?", "Sure"));
}

TEST(LayoutOrder, LineNumbersStayWithTheirLines) {
  // The engine puts the numbers in a block of their own beside the text.
  std::vector<TextLine> engineLines;
  for (int row = 0; row < 3; ++row) {
    engineLines.push_back(makeLine({{std::to_string(row + 1), 10, 40 + row * 30, 12, kHeight}}));
    engineLines.back().block = 1;
  }
  for (int row = 0; row < 3; ++row) {
    std::vector<PlacedWord> words;
    for (int word = 0; word < 6; ++word) {
      words.push_back({"w" + std::to_string(row + 1), 36 + word * 50, 40 + row * 30, 40, kHeight});
    }
    engineLines.push_back(makeLine(words));
    engineLines.back().block = 2;
  }
  EXPECT_THAT(
      textsOf(orderByLayout(engineLines)),
      ElementsAre("1", "w1 w1 w1 w1 w1 w1", "2", "w2 w2 w2 w2 w2 w2", "3", "w3 w3 w3 w3 w3 w3"));
}

// The words of a line as the engine reports them on a page turned by
// DEGREES: upright bounds around each slanted word, the baseline at its middle.
TextLine tiltedLine(const std::vector<PlacedWord>& words, double degrees) {
  const double sine = std::sin(degrees * std::numbers::pi / 180.0);
  const double cosine = std::cos(degrees * std::numbers::pi / 180.0);
  TextLine line = makeLine(words);
  for (RecognizedWord& word : line.words) {
    const auto turnedX = [&](double x, double y) { return x * cosine - y * sine; };
    const auto turnedY = [&](double x, double y) { return x * sine + y * cosine; };
    const PixelBox box = word.box;
    const double xs[] = {turnedX(box.left, box.top), turnedX(box.right, box.top),
                         turnedX(box.left, box.bottom), turnedX(box.right, box.bottom)};
    const double ys[] = {turnedY(box.left, box.top), turnedY(box.right, box.top),
                         turnedY(box.left, box.bottom), turnedY(box.right, box.bottom)};
    word.box = PixelBox{static_cast<int>(*std::min_element(std::begin(xs), std::end(xs))),
                        static_cast<int>(*std::min_element(std::begin(ys), std::end(ys))),
                        static_cast<int>(*std::max_element(std::begin(xs), std::end(xs))),
                        static_cast<int>(*std::max_element(std::begin(ys), std::end(ys)))};
    word.baseline = static_cast<int>(turnedY((box.left + box.right) / 2.0, box.bottom));
  }
  return line;
}

TEST(LayoutOrder, ReceiptRowsStayWholeOnATiltedPage) {
  // The engine reads each item's name as a line and its price as another.
  const std::vector<std::pair<std::string, std::string>> items{
      {"ORGANIC", "1.99"}, {"MILK", "3.49"}, {"BREAD", "4.25"}, {"EGGS", "5.10"}};
  for (const double degrees : {-4.0, 1.0, 4.0}) {
    std::vector<TextLine> engineLines;
    for (std::size_t row = 0; row < items.size(); ++row) {
      const int top = 200 + static_cast<int>(row) * 20;
      engineLines.push_back(tiltedLine(
          {{items[row].first, 20, top, 70, kHeight}, {"ITEM", 95, top, 40, kHeight}}, degrees));
      engineLines.push_back(tiltedLine({{items[row].second, 400, top, 40, kHeight}}, degrees));
    }
    EXPECT_THAT(
        textsOf(orderByLayout(engineLines)),
        ElementsAre("ORGANIC ITEM 1.99", "MILK ITEM 3.49", "BREAD ITEM 4.25", "EGGS ITEM 5.10"))
        << degrees << " degrees";
  }
}

TEST(LayoutOrder, NothingInNothingOut) { EXPECT_TRUE(orderByLayout({}).empty()); }

}  // namespace
}  // namespace mivo::ocr::testing
