// Taps, aggregate devices and IO procs: validation, lifetimes, counts and
// the journal.
#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

using Chain = SimulatedSystemTest;
using Counts = SimulatedAudioSystem::LiveCounts;

TEST_F(Chain, InvalidTapDescriptionsAreRefused) {
  const auto own = audio.ownProcessObject();
  struct Case {
    const char* what;
    std::vector<AudioObjectID> excluded;
    std::string uuid;
  };
  const Case cases[] = {{"no process", {}, "U-1"},
                        {"two processes", {own, own}, "U-2"},
                        {"unknown process", {own + 100}, "U-3"},
                        {"empty uuid", {own}, ""},
                        {"uuid of a live tap", {own}, kTapUUID}};
  createTap();
  for (const auto& c : cases) {
    auto description = TapDescription::stereoGlobalTapButExcludeProcesses(c.excluded);
    description.uuid = c.uuid;
    AudioObjectID tap = 77;
    EXPECT_EQ(audio.createProcessTap(description, &tap), kErrParam) << c.what;
    EXPECT_EQ(tap, kAudioObjectUnknown) << c.what;
    EXPECT_EQ(audio.lastTapDescription()->uuid, c.uuid) << c.what;
  }
  audio.setOwnProcessVisible(false);
  auto description = TapDescription::stereoGlobalTapButExcludeProcesses({own});
  description.uuid = "U-hidden";
  AudioObjectID tap = 0;
  EXPECT_EQ(audio.createProcessTap(description, &tap), kErrParam);
  EXPECT_EQ(audio.liveCounts().taps, 1u);
}

TEST_F(Chain, AggregateNeedsLiveDevicesAndTapAndAFreshUID) {
  createTap();
  AudioObjectID device = 0;
  EXPECT_EQ(audio.createAggregateDevice(aggregateDescription("a1", "nobody", kTapUUID), &device),
            kErrBadObject);
  EXPECT_EQ(audio.createAggregateDevice(aggregateDescription("a1", kOutputUID, "no-tap"), &device),
            kErrBadObject);
  EXPECT_EQ(audio.createAggregateDevice(PropertyValue("a1"), &device), kErrParam);
  EXPECT_EQ(audio.lastAggregateDescription(), PropertyValue("a1"));

  createAggregate("a1");
  EXPECT_EQ(audio.createAggregateDevice(aggregateDescription("a1", kOutputUID, kTapUUID), &device),
            kErrParam);
  EXPECT_EQ(device, kAudioObjectUnknown);

  audio.removeOutputDevice(output);
  EXPECT_EQ(audio.createAggregateDevice(aggregateDescription("a2", kOutputUID, kTapUUID), &device),
            kErrBadObject);
  EXPECT_EQ(audio.liveCounts().aggregateDevices, 1u);
}

TEST_F(Chain, IOProcCallsCheckTheirArguments) {
  createTap();
  const auto device = createAggregate();
  IOProcID proc = nullptr;
  EXPECT_EQ(audio.createIOProcIDWithBlock(&proc, 4242, queue, [](auto...) {}), kErrBadObject);
  EXPECT_EQ(audio.createIOProcIDWithBlock(&proc, device, queue, nullptr), kErrParam);
  EXPECT_EQ(proc, nullptr);
  proc = createRecordingProc(device);
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(audio.deviceStart(output, proc), kErrBadObject);
  EXPECT_EQ(audio.deviceStart(device, nullptr), kErrBadObject);
  EXPECT_EQ(audio.liveCounts().startedIOProcs, 0u);
}

TEST_F(Chain, CountsAndJournalFollowALifecycle) {
  audio.clearJournal();
  const auto tap = createTap();
  const auto device = createAggregate();
  const auto proc = createRecordingProc(device);
  ASSERT_EQ(audio.deviceStart(device, proc), kNoErr);
  EXPECT_EQ(audio.liveCounts(), (Counts{1, 1, 1, 1, 0}));

  EXPECT_EQ(audio.deviceStop(device, proc), kNoErr);
  EXPECT_EQ(audio.destroyIOProcID(device, proc), kNoErr);
  EXPECT_EQ(audio.destroyAggregateDevice(device), kNoErr);
  EXPECT_EQ(audio.destroyProcessTap(tap), kNoErr);
  EXPECT_EQ(audio.destroyProcessTap(tap), kErrBadObject);
  EXPECT_EQ(audio.liveCounts(), Counts{});
  EXPECT_EQ(audio.liveCounts().audioObjects(), 0u);

  const auto t = std::to_string(tap);
  const auto d = std::to_string(device);
  const std::vector<std::string> expected{
      "createProcessTap " + t,
      "createAggregateDevice " + d,
      "createIOProcIDWithBlock " + d,
      "deviceStart " + d,
      "deviceStop " + d,
      "destroyIOProcID " + d,
      "destroyAggregateDevice " + d,
      "destroyProcessTap " + t,
      "destroyProcessTap " + t + " status=" + std::to_string(kErrBadObject)};
  EXPECT_EQ(audio.journal(), expected);
  audio.clearJournal();
  EXPECT_TRUE(audio.journal().empty());
}

TEST_F(Chain, DestroyingTheAggregateTakesItsProcs) {
  startChain();
  createRecordingProc(aggregate);
  ASSERT_EQ(audio.liveCounts().ioProcs, 2u);
  EXPECT_EQ(audio.destroyAggregateDevice(aggregate), kNoErr);
  EXPECT_EQ(audio.liveCounts().ioProcs, 0u);
  audio.deliverCycles(3);
  EXPECT_TRUE(seen().empty());
}

TEST_F(Chain, ResetEmptiesTheWorld) {
  startChain();
  audio.addSource(sim::constantSignal(1));
  audio.failUntilCleared(SimulatedAudioSystem::Operation::CreateProcessTap, kErrUnspecified);
  audio.reset();
  EXPECT_EQ(audio.liveCounts(), Counts{});
  EXPECT_TRUE(audio.journal().empty());
  EXPECT_FALSE(audio.lastTapDescription());
  AudioObjectID device = 99;
  std::uint32_t size = sizeof device;
  ASSERT_EQ(audio.getPropertyData(kAudioObjectSystemObject, kDefaultOutputDeviceAddress, 0, nullptr,
                                  &size, &device),
            kNoErr);
  EXPECT_EQ(device, kAudioObjectUnknown);
  auto description = TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
  description.uuid = "after-reset";
  AudioObjectID tap = 0;
  EXPECT_EQ(audio.createProcessTap(description, &tap), kNoErr);
}

}  // namespace
}  // namespace mivo::audio::testing
