// Many threads and many changes at once: nothing may crash, hang, leak or
// call the host after its stop.
#include <dirent.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>

#include "capture_fixture.h"
#include "tap_capture.h"

namespace mivo::testing {
namespace {

using StressTest = CaptureTest;

std::size_t threadCount() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

TEST_F(StressTest, ConcurrentStartsAndStopsLeaveNothingRunning) {
  addDefaultOutput("A");
  // One round first, so threads a runtime starts lazily (the sanitizers')
  // are counted in the baseline.
  Host warmUp;
  ASSERT_EQ(warmUp.start(), 0);
  mivo_tap_stop();
  const std::size_t threadsBefore = threadCount();
  constexpr int kThreads = 4;
  constexpr int kIterations = 750;
  std::atomic<int> started{0};
  std::vector<std::future<void>> hosts;
  std::vector<Host> contexts(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    hosts.push_back(std::async(std::launch::async, [&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int i = 0; i < kIterations; ++i) {
        if (random() % 2 == 0) {
          const std::int32_t rc = contexts[t].start();
          EXPECT_TRUE(rc == 0 || rc == 1 || rc == 4) << rc;
          if (rc == 0) started.fetch_add(1);
        } else {
          EXPECT_EQ(mivo_tap_stop(), 0);
        }
      }
    }));
  }
  auto frames = std::async(std::launch::async, [&] {
    for (int i = 0; i < 500; ++i) sim().deliverCycles(1);
  });
  for (auto& h : hosts) ASSERT_EQ(h.wait_for(120s), std::future_status::ready) << "deadlock";
  ASSERT_EQ(frames.wait_for(120s), std::future_status::ready) << "deadlock";
  mivo_tap_stop();
  EXPECT_GT(started.load(), 0);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  // Queue threads of destroyed captures end by themselves; give them a moment.
  for (int i = 0; i < 1000 && threadCount() > threadsBefore; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_LE(threadCount(), threadsBefore);
}

TEST_F(StressTest, OutputStormWithFailingRebuilds) {
  std::vector<audio::AudioObjectID> devices;
  for (const char* uid : {"A", "B", "C", "D"})
    devices.push_back(sim().addOutputDevice({uid, uid[0] == 'C' ? 44100.0 : 48000.0, true}));
  sim().setDefaultOutput(devices[0]);
  sim().addSource(audio::sim::sineSignal(440, 0.5f, 48000));

  Host host;
  std::atomic<bool> stopReturned{false};
  std::atomic<int> late{0};
  host.onFrameHook = [&] {
    if (stopReturned.load()) late.fetch_add(1);
  };
  host.onStoppedHook = [&] {
    if (stopReturned.load()) late.fetch_add(1);
  };
  auto capture = std::make_shared<capture::TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
  ASSERT_EQ(capture->start(), 0);

  std::atomic<bool> flipping{true};
  auto frames = std::async(std::launch::async, [&] {
    while (flipping.load()) sim().deliverCycles(4);
  });
  std::mt19937 random(42);
  constexpr int kFlips = 1000;
  for (int i = 0; i < kFlips; ++i) {
    if (random() % 4 == 0) sim().failOnce(Operation::CreateAggregateDevice, -50);
    sim().setDefaultOutput(devices[random() % devices.size()]);
    if (random() % 3 == 0) capture->flushQueues();  // else notifications pile up
  }
  capture->flushQueues();
  // Stop while frames still flow and notifications are still arriving.
  sim().setDefaultOutput(devices[1]);
  capture->stop();
  stopReturned.store(true);
  flipping.store(false);
  ASSERT_EQ(frames.wait_for(60s), std::future_status::ready) << "deadlock";

  const std::size_t failedRebuilds = countLoggedStartingWith("rebuild FAILED rc=7");
  const std::size_t okRebuilds = countLoggedStartingWith("rebuild OK on ");
  std::printf(
      "storm: %d flips, %zu rebuilds ok, %zu failed, %lld stopped callbacks, %lld frame calls\n",
      kFlips, okRebuilds, failedRebuilds, static_cast<long long>(host.stoppedCount()),
      static_cast<long long>(host.frameCallCount()));
  EXPECT_GT(okRebuilds, 0u);
  EXPECT_EQ(static_cast<std::size_t>(host.stoppedCount()), failedRebuilds);
  EXPECT_EQ(late.load(), 0);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
}

}  // namespace
}  // namespace mivo::testing
