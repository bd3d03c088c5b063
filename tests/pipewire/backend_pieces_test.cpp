// The PipeWire backend's pure pieces: no server needed.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "audio/pipewire/aggregate_description.h"
#include "audio/pipewire/default_output_follower.h"
#include "audio/pipewire/object_ids.h"

namespace mivo::audio::pipewire {
namespace {

TEST(DefaultSinkMetadata, NamesTheSinkOnlyWhenTheValueHoldsAName) {
  struct Case {
    const char* value;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {R"({"name":"A"})", "A"},
      {R"({ "name" : "alsa_output.pci-0000_00_1f.3.analog-stereo" })",
       "alsa_output.pci-0000_00_1f.3.analog-stereo"},
      {R"({"name":"say \"hi\" 100%"})", "say \"hi\" 100%"},
      {R"({"props":{"name":"inner","x":[1,2]},"name":"B"})", "B"},
      {R"({"name":""})", std::nullopt},
      {R"({"name":5})", std::nullopt},
      {R"({"other":"A"})", std::nullopt},
      {R"({})", std::nullopt},
      {R"("A")", std::nullopt},
      {R"({"name":)", std::nullopt},
      {"", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sinkNameFromMetadataValue(c.value), c.name) << (c.value ? c.value : "(null)");
}

PropertyValue description(PropertyValue master, PropertyValue subdevices, PropertyValue taps) {
  using D = PropertyValue::Dictionary;
  return D{{"name", "Mivo Capture"},
           {"uid", "app.mivo.tap.T"},
           {"master", std::move(master)},
           {"private", true},
           {"stacked", false},
           {"tapautostart", true},
           {"subdevices", std::move(subdevices)},
           {"taps", std::move(taps)}};
}

TEST(AggregateDescription, ReadsTheOutputAndTheTapAndRefusesWhatDoesNotFit) {
  using D = PropertyValue::Dictionary;
  using L = PropertyValue::List;
  const L tapT{D{{"drift", true}, {"uid", "T"}}};
  const L outputA{D{{"uid", "A"}}};

  auto request = readAggregateDescription(description("A", outputA, tapT));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->name, "Mivo Capture");
  EXPECT_EQ(request->uid, "app.mivo.tap.T");
  EXPECT_EQ(request->outputUID, "A");
  EXPECT_EQ(request->tapUUID, "T");

  struct Case {
    const char* what;
    PropertyValue value;
  };
  const Case refused[] = {
      {"master not a string", description(true, outputA, tapT)},
      {"output not among the subdevices", description("B", outputA, tapT)},
      {"subdevices not a list", description("A", "A", tapT)},
      {"no tap", description("A", outputA, L{})},
      {"two taps", description("A", outputA, L{tapT[0], tapT[0]})},
      {"tap without uid", description("A", outputA, L{D{{"drift", true}}})},
      {"tap uid empty", description("A", outputA, L{D{{"uid", ""}}})},
      {"not a dictionary", PropertyValue(L{})},
  };
  for (const Case& c : refused) EXPECT_FALSE(readAggregateDescription(c.value)) << c.what;
}

TEST(ObjectIds, KeepOneIdPerProcessAndPerSinkNameAndNeverShareThem) {
  ObjectIds ids;
  AudioObjectID process = ids.processObject(100);
  AudioObjectID device = ids.device("A");
  AudioObjectID fresh = ids.fresh();
  EXPECT_GT(process, kAudioObjectSystemObject);
  EXPECT_EQ(ids.processObject(100), process);
  EXPECT_EQ(ids.device("A"), device);
  EXPECT_NE(ids.processObject(101), process);
  EXPECT_NE(ids.device("B"), device);
  EXPECT_NE(process, device);
  EXPECT_NE(fresh, device);
  EXPECT_EQ(ids.processOf(process), 100);
  EXPECT_FALSE(ids.processOf(device));
  ASSERT_NE(ids.deviceName(device), nullptr);
  EXPECT_EQ(*ids.deviceName(device), "A");
  EXPECT_EQ(ids.deviceName(process), nullptr);
}

}  // namespace
}  // namespace mivo::audio::pipewire
