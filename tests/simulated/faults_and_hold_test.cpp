// Injected statuses (once and until cleared) on every operation, teardown
// refusals, and the hold hook.
#include <unistd.h>

#include <future>
#include <thread>

#include "simulated_test_support.h"

namespace mivo::audio::sim {
// Names test parameters in gtest's output.
void PrintTo(Operation operation, std::ostream* out) { *out << operationName(operation); }
}  // namespace mivo::audio::sim

namespace mivo::audio::testing {
namespace {

using Operation = SimulatedAudioSystem::Operation;
constexpr OSStatus kInjected = 1234;

class Faults : public SimulatedSystemTest, public ::testing::WithParamInterface<Operation> {
 protected:
  void SetUp() override {
    createTap();
    aggregate = createAggregate();
  }

  template <typename T>
  OSStatus read(AudioObjectID object, const PropertyAddress& address) {
    T data{};
    std::uint32_t size = sizeof data;
    const std::int32_t pid = getpid();
    const OSStatus status = audio.getPropertyData(object, address, sizeof pid, &pid, &size, &data);
    if constexpr (std::is_same_v<T, StringRef>)
      if (status == kNoErr) releaseString(data);
    return status;
  }

  AudioObjectID freshTap() {
    auto description =
        TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
    description.uuid = "TAP-" + std::to_string(++made_);
    AudioObjectID tap = 0;
    EXPECT_EQ(audio.createProcessTap(description, &tap), kNoErr);
    return tap;
  }
  IOProcID freshProc() {
    IOProcID proc = nullptr;
    EXPECT_EQ(audio.createIOProcIDWithBlock(&proc, aggregate, queue, [](auto...) {}), kNoErr);
    return proc;
  }

  // One call of operation, set up so that it succeeds unless injected.
  OSStatus perform(Operation operation) {
    switch (operation) {
      case Operation::ReadProcessObject:
        return read<AudioObjectID>(kAudioObjectSystemObject, kProcessObjectAddress);
      case Operation::ReadDefaultOutput:
        return read<AudioObjectID>(kAudioObjectSystemObject, kDefaultOutputDeviceAddress);
      case Operation::ReadDeviceUID:
        return read<StringRef>(output, kDeviceUIDAddress);
      case Operation::ReadStreamFormat:
        return read<AudioStreamBasicDescription>(aggregate, kInputStreamFormatAddress);
      case Operation::ReadNominalRate:
        return read<double>(aggregate, kNominalSampleRateAddress);
      case Operation::CreateProcessTap: {
        auto description =
            TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
        description.uuid = "TAP-" + std::to_string(++made_);
        AudioObjectID tap = 0;
        return audio.createProcessTap(description, &tap);
      }
      case Operation::CreateAggregateDevice: {
        AudioObjectID device = 0;
        return audio.createAggregateDevice(
            aggregateDescription("agg-" + std::to_string(++made_), kOutputUID, kTapUUID), &device);
      }
      case Operation::CreateIOProcIDWithBlock: {
        IOProcID proc = nullptr;
        return audio.createIOProcIDWithBlock(&proc, aggregate, queue, [](auto...) {});
      }
      case Operation::DeviceStart:
        return audio.deviceStart(aggregate, freshProc());
      case Operation::DeviceStop: {
        const auto proc = freshProc();
        EXPECT_EQ(audio.deviceStart(aggregate, proc), kNoErr);
        return audio.deviceStop(aggregate, proc);
      }
      case Operation::DestroyIOProcID:
        return audio.destroyIOProcID(aggregate, freshProc());
      case Operation::DestroyAggregateDevice: {
        AudioObjectID device = 0;
        EXPECT_EQ(audio.createAggregateDevice(
                      aggregateDescription("agg-" + std::to_string(++made_), kOutputUID, kTapUUID),
                      &device),
                  kNoErr);
        return audio.destroyAggregateDevice(device);
      }
      case Operation::DestroyProcessTap:
        return audio.destroyProcessTap(freshTap());
      case Operation::AddPropertyListener:
        return audio.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         queue, listener_);
      case Operation::RemovePropertyListener:
        EXPECT_EQ(audio.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                            queue, listener_),
                  kNoErr);
        return audio.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                            queue, listener_);
    }
    return kErrUnspecified;
  }

  std::string lastJournalLine() {
    const auto lines = audio.journal();
    return lines.empty() ? "" : lines.back();
  }

 private:
  int made_ = 0;
  PropertyListenerBlock listener_ =
      std::make_shared<const PropertyListener>([](std::uint32_t, const PropertyAddress*) {});
};

TEST_P(Faults, OnceFailsOneCall) {
  audio.failOnce(GetParam(), kInjected);
  EXPECT_EQ(perform(GetParam()), kInjected);
  EXPECT_TRUE(lastJournalLine().starts_with(sim::operationName(GetParam())));
  EXPECT_TRUE(lastJournalLine().ends_with(" status=1234")) << lastJournalLine();
  EXPECT_EQ(perform(GetParam()), kNoErr);
}

TEST_P(Faults, UntilClearedFailsEveryCall) {
  audio.failUntilCleared(GetParam(), kInjected);
  EXPECT_EQ(perform(GetParam()), kInjected);
  EXPECT_EQ(perform(GetParam()), kInjected);
  audio.clearFaults();
  EXPECT_EQ(perform(GetParam()), kNoErr);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, Faults,
    ::testing::Values(Operation::ReadProcessObject, Operation::ReadDefaultOutput,
                      Operation::ReadDeviceUID, Operation::ReadStreamFormat,
                      Operation::ReadNominalRate, Operation::CreateProcessTap,
                      Operation::CreateAggregateDevice, Operation::CreateIOProcIDWithBlock,
                      Operation::DeviceStart, Operation::DeviceStop, Operation::DestroyIOProcID,
                      Operation::DestroyAggregateDevice, Operation::DestroyProcessTap,
                      Operation::AddPropertyListener, Operation::RemovePropertyListener),
    [](const auto& testCase) { return std::string(sim::operationName(testCase.param)); });

using Teardown = SimulatedSystemTest;

TEST_F(Teardown, FailedCreationsLeaveTheirOutputsEmpty) {
  audio.failOnce(Operation::CreateProcessTap, kInjected);
  auto description = TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
  description.uuid = kTapUUID;
  AudioObjectID tap = 55;
  EXPECT_EQ(audio.createProcessTap(description, &tap), kInjected);
  EXPECT_EQ(tap, kAudioObjectUnknown);
  EXPECT_EQ(audio.lastTapDescription()->uuid, kTapUUID);
  EXPECT_EQ(audio.liveCounts().taps, 0u);
}

TEST_F(Teardown, RefusedDestroysKeepTheirObjects) {
  const auto proc = startChain();
  const auto tap = audio.liveCounts().taps == 1 ? audio.lastTapDescription() : std::nullopt;
  ASSERT_TRUE(tap);
  audio.failOnce(Operation::DestroyAggregateDevice, kInjected);
  EXPECT_EQ(audio.destroyAggregateDevice(aggregate), kInjected);
  EXPECT_EQ(audio.liveCounts().aggregateDevices, 1u);
  EXPECT_EQ(audio.liveCounts().ioProcs, 1u);

  audio.failOnce(Operation::DeviceStop, kInjected);
  EXPECT_EQ(audio.deviceStop(aggregate, proc), kInjected);
  EXPECT_EQ(audio.liveCounts().startedIOProcs, 1u);
  audio.deliverCycles(1);
  EXPECT_EQ(seen().size(), 1u);
}

// The owner may destroy the queue right after a refused destroy: the proc
// stays counted but is never posted to again, and a retry removes it.
TEST_F(Teardown, RefusedProcDestroyCutsTheProcOffItsQueue) {
  const auto proc = startChain();
  audio.failOnce(Operation::DestroyIOProcID, kInjected);
  EXPECT_EQ(audio.destroyIOProcID(aggregate, proc), kInjected);
  EXPECT_EQ(audio.liveCounts().ioProcs, 1u);
  EXPECT_EQ(audio.liveCounts().startedIOProcs, 0u);
  EXPECT_EQ(audio.deviceStart(aggregate, proc), kErrBadObject);
  audio.deliverCycles(2);
  EXPECT_TRUE(seen().empty());
  EXPECT_EQ(audio.destroyIOProcID(aggregate, proc), kNoErr);
  EXPECT_EQ(audio.liveCounts().ioProcs, 0u);
}

TEST_F(Teardown, RefusedListenerRemovalCutsTheListenerOff) {
  std::atomic<int> calls = 0;
  const auto listener = std::make_shared<const PropertyListener>(
      [&](std::uint32_t, const PropertyAddress*) { ++calls; });
  ASSERT_EQ(audio.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress, queue,
                                      listener),
            kNoErr);
  audio.failOnce(Operation::RemovePropertyListener, kInjected);
  EXPECT_EQ(audio.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         queue, listener),
            kInjected);
  EXPECT_EQ(audio.liveCounts().listeners, 1u);
  audio.setDefaultOutput(output);
  queue.sync([] {});
  EXPECT_EQ(calls.load(), 0);
}

using Hold = SimulatedSystemTest;

TEST_F(Hold, HoldsTheNextCallUntilReleased) {
  createTap();
  audio.hold(Operation::CreateAggregateDevice);
  EXPECT_FALSE(audio.waitUntilHeld(std::chrono::milliseconds(10)));

  auto held = std::async(std::launch::async, [&] { return createAggregate("held"); });
  ASSERT_TRUE(audio.waitUntilHeld(std::chrono::seconds(10)));
  // Held outside the system's lock: everything else goes on.
  EXPECT_EQ(audio.liveCounts().aggregateDevices, 0u);
  EXPECT_NE(createAggregate("other"), kAudioObjectUnknown);
  audio.deliverCycles(1);
  EXPECT_EQ(held.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  audio.release();
  EXPECT_NE(held.get(), kAudioObjectUnknown);
  EXPECT_FALSE(audio.waitUntilHeld(std::chrono::milliseconds(0)));
  EXPECT_NE(createAggregate("not held again"), kAudioObjectUnknown);
}

TEST_F(Hold, ReleaseBeforeTheCallDisarms) {
  audio.hold(Operation::CreateProcessTap);
  audio.release();
  EXPECT_NE(createTap(), kAudioObjectUnknown);
}

TEST_F(Hold, ResetLetsAHeldCallGo) {
  audio.hold(Operation::ReadDefaultOutput);
  auto held = std::async(std::launch::async, [&] {
    AudioObjectID device = 0;
    std::uint32_t size = sizeof device;
    return audio.getPropertyData(kAudioObjectSystemObject, kDefaultOutputDeviceAddress, 0, nullptr,
                                 &size, &device);
  });
  ASSERT_TRUE(audio.waitUntilHeld(std::chrono::seconds(10)));
  audio.reset();
  EXPECT_EQ(held.get(), kNoErr);
}

}  // namespace
}  // namespace mivo::audio::testing
