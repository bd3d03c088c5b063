// Many threads on one system at once: chains built and torn down, cycles
// delivered, the clock running and the default output flipping. Run under
// ThreadSanitizer in CI to catch races.
#include <thread>

#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

using Concurrency = SimulatedSystemTest;

TEST_F(Concurrency, ChainsCyclesAndDefaultChangesInParallel) {
  constexpr int kWorkers = 3;
  constexpr int kRounds = 150;
  audio.addSource(sim::sineSignal(440, 0.5f, 48000));
  const auto second = audio.addOutputDevice({"sim-output-B", 44100});
  std::atomic<int> notifications = 0;
  const auto listener = std::make_shared<const PropertyListener>(
      [&](std::uint32_t, const PropertyAddress*) { ++notifications; });
  ASSERT_EQ(audio.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress, queue,
                                      listener),
            kNoErr);
  std::atomic<bool> building = true;
  std::atomic<long> cycles = 0;

  auto worker = [&](int index) {
    platform::SerialQueue ownQueue("sim.test.worker");
    for (int round = 0; round < kRounds; ++round) {
      auto description =
          TapDescription::stereoGlobalTapButExcludeProcesses({audio.ownProcessObject()});
      description.uuid = "T-" + std::to_string(index) + "-" + std::to_string(round);
      AudioObjectID tap = 0;
      ASSERT_EQ(audio.createProcessTap(description, &tap), kNoErr);
      AudioObjectID device = 0;
      ASSERT_EQ(
          audio.createAggregateDevice(
              aggregateDescription("A-" + description.uuid, kOutputUID, description.uuid), &device),
          kNoErr);
      IOProcID proc = nullptr;
      ASSERT_EQ(audio.createIOProcIDWithBlock(&proc, device, ownQueue, [&](auto...) { ++cycles; }),
                kNoErr);
      ASSERT_EQ(audio.deviceStart(device, proc), kNoErr);
      audio.deliverCycles(2);
      EXPECT_EQ(audio.deviceStop(device, proc), kNoErr);
      EXPECT_EQ(audio.destroyIOProcID(device, proc), kNoErr);
      EXPECT_EQ(audio.destroyAggregateDevice(device), kNoErr);
      EXPECT_EQ(audio.destroyProcessTap(tap), kNoErr);
    }
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) workers.emplace_back(worker, i);
  std::thread flipper([&] {
    for (int flip = 0; building && flip < 5000; ++flip)
      audio.setDefaultOutput(flip % 2 ? second : output);
  });
  audio.startClock();
  for (auto& thread : workers) thread.join();
  building = false;
  flipper.join();
  audio.stopClock();
  ASSERT_EQ(audio.removePropertyListener(kAudioObjectSystemObject, kDefaultOutputDeviceAddress,
                                         queue, listener),
            kNoErr);
  queue.sync([] {});

  EXPECT_EQ(audio.liveCounts(), SimulatedAudioSystem::LiveCounts{});
  EXPECT_GE(cycles.load(), long(kWorkers) * kRounds * 2);
  EXPECT_GT(notifications.load(), 0);
}

}  // namespace
}  // namespace mivo::audio::testing
