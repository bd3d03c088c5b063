#include "recognition/layout/layout_order.h"
#include "recognition/text_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mivo::ocr::testing {
namespace {

using ::testing::ElementsAre;

constexpr int kHeight = 12;

TEST(LayoutOrder, TableReadColumnByColumnComesOutRowByRow) {
  const std::vector<int> columns{20, 240, 420};
  const std::vector<std::vector<std::string>> cells{
      {"Name", "Owner", "Due"}, {"Budget", "Alice", "May"}, {"Launch", "Bruno", "June"},
      {"Hiring", "Carla", "July"}};
  std::vector<TextLine> engineLines;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    for (std::size_t row = 0; row < cells.size(); ++row) {
      engineLines.push_back(makeLine({{cells[row][column], columns[column],
                                       20 + static_cast<int>(row) * 30, 60, kHeight}}));
    }
  }
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Name Owner Due", "Budget Alice May", "Launch Bruno June",
                          "Hiring Carla July"));
}

TEST(LayoutOrder, MetricCardsReadAcrossComeOutCardByCard) {
  // The engine joins each row of three cards into one line.
  const std::vector<TextLine> engineLines{
      makeLine({{"Users", 20, 20, 50, 10}, {"Revenue", 340, 20, 70, 10}, {"Churn", 660, 20, 50, 10}}),
      makeLine({{"3,400", 20, 50, 90, 24}, {"$12k", 340, 50, 80, 24}, {"2%", 660, 50, 40, 24}}),
      makeLine({{"+4%", 20, 90, 40, 10}, {"-1%", 340, 90, 40, 10}, {"+0.5%", 660, 90, 50, 10}})};
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("Users", "3,400", "+4%", "Revenue", "$12k", "-1%", "Churn", "2%",
                          "+0.5%"));
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
              ElementsAre("side0", "side1", "side2", "side3", "main0", "main1", "main2",
                          "main3"));
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
  EXPECT_THAT(textsOf(orderByLayout(engineLines)),
              ElementsAre("item0", "item1", "item2", "text0 goes on", "text1 goes on",
                          "text2 goes on"));
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

TEST(LayoutOrder, NothingInNothingOut) { EXPECT_TRUE(orderByLayout({}).empty()); }

}  // namespace
}  // namespace mivo::ocr::testing
