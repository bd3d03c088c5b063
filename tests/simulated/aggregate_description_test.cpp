#include "audio/simulated/aggregate_description.h"

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

using Dictionary = PropertyValue::Dictionary;
using List = PropertyValue::List;

PropertyValue valid() { return aggregateDescription("agg.tap.X", "out-1", "TAP-1"); }

PropertyValue with(const std::string& key, PropertyValue replacement) {
  auto entries = valid().dictionary();
  for (auto& [k, v] : entries)
    if (k == key) v = std::move(replacement);
  return entries;
}

Dictionary without(const std::string& key) {
  auto entries = valid().dictionary();
  std::erase_if(entries, [&](const auto& entry) { return entry.first == key; });
  return entries;
}

PropertyValue plus(const std::string& key, PropertyValue value) {
  auto entries = valid().dictionary();
  entries.emplace_back(key, std::move(value));
  return entries;
}

TEST(AggregateDescription, ValidDescriptionYieldsItsUIDs) {
  const auto plan = sim::parseAggregateDescription(valid());
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->uid, "agg.tap.X");
  EXPECT_EQ(plan->masterUID, "out-1");
  EXPECT_EQ(plan->subdeviceUID, "out-1");
  EXPECT_EQ(plan->tapUUID, "TAP-1");
}

struct Malformed {
  const char* what;
  std::function<PropertyValue()> make;
};

class MalformedAggregateDescription : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedAggregateDescription, IsRefused) {
  EXPECT_FALSE(sim::parseAggregateDescription(GetParam().make())) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedAggregateDescription,
    ::testing::Values(
        Malformed{"not a dictionary", [] { return PropertyValue("x"); }},
        Malformed{"name missing", [] { return PropertyValue(without("name")); }},
        Malformed{"taps missing", [] { return PropertyValue(without("taps")); }},
        Malformed{"ninth key", [] { return plus("clock", "x"); }},
        Malformed{"duplicate key in place of another",
                  [] {
                    auto entries = without("stacked");
                    entries.emplace_back("private", true);
                    return PropertyValue(entries);
                  }},
        Malformed{"name not a string", [] { return with("name", true); }},
        Malformed{"private as text", [] { return with("private", "true"); }},
        Malformed{"stacked as text", [] { return with("stacked", "false"); }},
        Malformed{"tapautostart as list", [] { return with("tapautostart", List{}); }},
        Malformed{"master not a string", [] { return with("master", false); }},
        Malformed{"empty uid", [] { return with("uid", ""); }},
        Malformed{"empty master", [] { return with("master", ""); }},
        Malformed{"subdevices a dictionary",
                  [] {
                    return with("subdevices", Dictionary{{"uid", "out-1"}});
                  }},
        Malformed{"no subdevice", [] { return with("subdevices", List{}); }},
        Malformed{"two subdevices",
                  [] {
                    return with("subdevices",
                                List{Dictionary{{"uid", "out-1"}}, Dictionary{{"uid", "out-2"}}});
                  }},
        Malformed{"subdevice uid not a string",
                  [] {
                    return with("subdevices", List{Dictionary{{"uid", true}}});
                  }},
        Malformed{"subdevice with an extra key",
                  [] {
                    return with("subdevices", List{Dictionary{{"uid", "out-1"}, {"drift", true}}});
                  }},
        Malformed{"tap without drift",
                  [] {
                    return with("taps", List{Dictionary{{"uid", "TAP-1"}}});
                  }},
        Malformed{"tap drift as text",
                  [] {
                    return with("taps", List{Dictionary{{"drift", "yes"}, {"uid", "TAP-1"}}});
                  }},
        Malformed{"tap uid empty",
                  [] {
                    return with("taps", List{Dictionary{{"drift", true}, {"uid", ""}}});
                  }},
        Malformed{"two taps",
                  [] {
                    const Dictionary tap{{"drift", true}, {"uid", "TAP-1"}};
                    return with("taps", List{tap, tap});
                  }}),
    [](const auto& testCase) {
      std::string name = testCase.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

}  // namespace
}  // namespace mivo::audio::testing
