#include "recognition/layout/median.h"

#include <gtest/gtest.h>

namespace mivo::ocr {
namespace {

// Layout thresholds are multiples of median heights, so an even count must
// take the larger middle value, whatever the input order.
TEST(Median, OfUnsortedValuesEvenCountsTakeTheUpperMiddle) {
  EXPECT_EQ(median(std::vector<int>{}), 0);
  EXPECT_EQ(median(std::vector<int>{7}), 7);
  EXPECT_EQ(median(std::vector<int>{30, 10, 20}), 20);
  EXPECT_EQ(median(std::vector<int>{40, 10, 30, 20}), 30);
  EXPECT_DOUBLE_EQ(median(std::vector<double>{2.5, 0.5, 1.5, 3.5, 1.0, 9.0}), 2.5);
}

}  // namespace
}  // namespace mivo::ocr
