// Stops, starts and switches racing each other, and a host slower than its
// cycles, on a real PipeWire server (pw-session.sh: outputs A, the default,
// and B). Each case runs in a session of its own.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mivo_capture.h"
#include "platform/system_log.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using mivo::pwtest::eventually;

bool setDefaultOutput(const std::string& name) {
  return mivo::pwtest::run("timeout 10 pactl set-default-sink " + name);
}

// The library's log lines that start with a prefix, with when each came.
class LogWatch {
 public:
  explicit LogWatch(std::string prefix) : prefix_("[mivo-tap] " + std::move(prefix)) {
    mivo::platform::setLogObserver([this](std::string_view line) {
      if (!line.starts_with(prefix_)) return;
      std::lock_guard lock(mutex_);
      times_.push_back(Clock::now());
    });
  }
  ~LogWatch() { mivo::platform::setLogObserver(nullptr); }
  int count() {
    std::lock_guard lock(mutex_);
    return int(times_.size());
  }
  bool waitForCount(int count, std::chrono::milliseconds timeout = 10s) {
    return eventually(timeout, [&] { return this->count() >= count; });
  }
  Clock::time_point last() {
    std::lock_guard lock(mutex_);
    return times_.back();
  }

 private:
  const std::string prefix_;
  std::mutex mutex_;
  std::vector<Clock::time_point> times_;
};

// A host whose frame callback can be made slow; it records when its last
// callback ended and whether one began after a stop it was told of.
struct Host {
  std::atomic<std::int64_t> frames = 0;
  std::atomic<int> slowMilliseconds = 0;
  // Each callback takes this much longer than the audio it carries (6 ms per
  // 5.3 ms cycle), whatever the graph's quantum.
  static constexpr double kSlowerThanRealTime = 6.0 / 5.33;
  std::atomic<bool> slowerThanRealTime = false;
  std::atomic<bool> insideSlowCallback = false;
  std::mutex mutex;
  Clock::time_point lastCallbackEnd{};
  std::optional<Clock::time_point> stoppedAt;
  int callbacksAfterStop = 0;

  static void onFrame(void* ctx, std::uint8_t, const float*, std::int32_t count,
                      std::int32_t rate) {
    auto* host = static_cast<Host*>(ctx);
    {
      std::lock_guard lock(host->mutex);
      if (host->stoppedAt) ++host->callbacksAfterStop;
    }
    std::chrono::duration<double> busy = std::chrono::milliseconds(host->slowMilliseconds.load());
    if (host->slowerThanRealTime) busy = kSlowerThanRealTime * count / double(rate) * 1s;
    if (busy > 0s) {
      host->insideSlowCallback = true;
      // Busy, as a host that computes is: a sleep would free the core.
      auto until = Clock::now() + busy;
      while (Clock::now() < until) {
      }
    }
    host->frames += count;
    std::lock_guard lock(host->mutex);
    host->lastCallbackEnd = Clock::now();
  }
  std::int32_t start() { return mivo_tap_start(this, &Host::onFrame, nullptr); }
  // A stop made by one of several threads: when it returned.
  Clock::time_point stop() {
    mivo_tap_stop();
    auto now = Clock::now();
    std::lock_guard lock(mutex);
    if (!stoppedAt) stoppedAt = now;
    return now;
  }
};

class CaptureStopsOnPipeWire : public ::testing::Test {
 protected:
  void TearDown() override {
    mivo_tap_stop();
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.callbacksAfterStop, 0) << "frame callback after mivo_tap_stop returned";
  }
  // Starts capturing a foreign tone; returns once a frame callback taking
  // milliseconds is running.
  void startThenSlowDown(int milliseconds) {
    player = std::make_unique<mivo::pwtest::ForeignPlayer>(440);
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    ASSERT_TRUE(eventually(5s, [&] { return host.frames > 0; }));
    host.slowMilliseconds = milliseconds;
    ASSERT_TRUE(eventually(5s, [&] { return host.insideSlowCallback.load(); }));
  }
  Host host;
  std::unique_ptr<mivo::pwtest::ForeignPlayer> player;
};

TEST_F(CaptureStopsOnPipeWire, ASlowHostFollowsADefaultOutputSwitchWithinHalfASecond) {
  mivo::pwtest::ForeignPlayer foreign(440);
  LogWatch rebuilt("rebuild OK on B");
  host.slowerThanRealTime = true;
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.frames > 0; }));
  std::this_thread::sleep_for(1s);  // the host's queue is behind by now
  auto asked = Clock::now();
  ASSERT_TRUE(setDefaultOutput("B"));
  ASSERT_TRUE(rebuilt.waitForCount(1));
  EXPECT_LT(rebuilt.last() - asked, 500ms);
  auto frames = host.frames.load();
  EXPECT_TRUE(eventually(5s, [&] { return host.frames > frames; }));
}

// Each stop lands on the rebuild a switch began, where the build waits for
// its capture node.
TEST_F(CaptureStopsOnPipeWire, TwoHundredCyclesOfStartSwitchStopLeaveDescriptorsAndThreadsFlat) {
  mivo::pwtest::ForeignPlayer foreign(440);
  LogWatch rebuilding("default output changed");
  auto cycle = [&](int index) {
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    ASSERT_TRUE(eventually(5s, [&] { return host.frames > 0; }));
    int before = rebuilding.count();
    ASSERT_TRUE(setDefaultOutput(index % 2 == 0 ? "B" : "A"));
    ASSERT_TRUE(rebuilding.waitForCount(before + 1)) << "cycle " << index;
    mivo_tap_stop();
    host.frames = 0;
  };
  for (int i = 0; i < 10 && !HasFatalFailure(); ++i) cycle(i);  // first-use state settles
  int threads = mivo::pwtest::threadCount();
  int descriptors = mivo::pwtest::openDescriptorCount();
  for (int i = 10; i < 210 && !HasFatalFailure(); ++i) cycle(i);

  EXPECT_TRUE(eventually(5s, [&] { return mivo::pwtest::threadCount() == threads; }))
      << mivo::pwtest::threadCount() << " threads, " << threads << " before";
  // Nodes of abandoned builds go once the server confirms; one descriptor
  // leaked per cycle would be 200.
  EXPECT_TRUE(
      eventually(5s, [&] { return mivo::pwtest::openDescriptorCount() - descriptors < 10; }))
      << mivo::pwtest::openDescriptorCount() << " descriptors, " << descriptors << " before"
      << mivo::pwtest::commandOutput("ls -l /proc/" + std::to_string(getpid()) +
                                     "/fd | awk '{print $NF}' | sed 's/[0-9]//g' | sort | uniq -c");
  EXPECT_TRUE(eventually(5s, [] {
    return mivo::pwtest::commandOutput("pw-cli ls Node").find("mivo-capture") == std::string::npos;
  }));
}

// The first capture's stop waits for a frame callback that takes a second;
// a capture started meanwhile builds and runs.
TEST_F(CaptureStopsOnPipeWire, AStartDuringAStopSucceeds) {
  ASSERT_NO_FATAL_FAILURE(startThenSlowDown(1000));
  auto stopping = std::async(std::launch::async, [&] { host.stop(); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(stopping.wait_for(0s), std::future_status::timeout) << "the stop did not wait";

  Host next;
  EXPECT_EQ(next.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  EXPECT_TRUE(eventually(5s, [&] { return next.frames > 0; }));
  stopping.wait();
  next.stop();
}

TEST_F(CaptureStopsOnPipeWire, TwoThreadsStoppingAtOnceBothReturnAfterTheLastCallback) {
  ASSERT_NO_FATAL_FAILURE(startThenSlowDown(300));
  auto first = std::async(std::launch::async, [&] { return host.stop(); });
  auto second = std::async(std::launch::async, [&] { return host.stop(); });
  Clock::time_point returned[] = {first.get(), second.get()};
  std::lock_guard lock(host.mutex);
  for (Clock::time_point at : returned) EXPECT_GE(at, host.lastCallbackEnd);
}

}  // namespace
