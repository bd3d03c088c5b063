// The capture library's C functions on a real PipeWire server (the private
// session of pw-session.sh: outputs A, the default, and B), with the log
// read through the platform's observer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "mivo_capture.h"
#include "platform/system_log.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using mivo::pwtest::eventually;

constexpr double kRate = 48000;

// Switches the session manager's default output and waits until the switch
// is visible to clients.
bool setDefaultOutput(const std::string& name) {
  return mivo::pwtest::run("pactl set-default-sink " + name) && eventually(5s, [&] {
           return mivo::pwtest::commandOutput("pactl get-default-sink") == name + "\n";
         });
}

// The host's side: what the callbacks received.
struct Host {
  std::mutex mutex;
  std::vector<float> samples;
  std::int64_t frames = 0;
  std::int32_t lastRate = 0;
  bool stopReturned = false;
  int framesAfterStop = 0;
  int badFrames = 0;  // wrong ctx, source or count
  std::atomic<int> stoppedCalls = 0;

  static void onFrame(void* ctx, std::uint8_t source, const float* samples,
                      std::int32_t frameCount, std::int32_t sampleRate) {
    auto* host = static_cast<Host*>(ctx);
    std::lock_guard lock(host->mutex);
    if (host->stopReturned) ++host->framesAfterStop;
    if (source != 0 || samples == nullptr || frameCount < 1) ++host->badFrames;
    host->samples.insert(host->samples.end(), samples, samples + frameCount);
    host->frames += frameCount;
    host->lastRate = sampleRate;
  }
  static void onStopped(void* ctx) { ++static_cast<Host*>(ctx)->stoppedCalls; }

  std::int32_t start() { return mivo_tap_start(this, &Host::onFrame, &Host::onStopped); }
  void stop() {
    mivo_tap_stop();
    std::lock_guard lock(mutex);
    stopReturned = true;
  }
  std::int64_t frameCount() {
    std::lock_guard lock(mutex);
    return frames;
  }
  // The mono signal of the next stretch of time.
  std::vector<float> record(std::chrono::milliseconds length) {
    { std::lock_guard lock(mutex); samples.clear(); }
    std::this_thread::sleep_for(length);
    std::lock_guard lock(mutex);
    return std::exchange(samples, {});
  }
  double amplitudeNow(double frequency) {
    return mivo::pwtest::toneAmplitude(record(250ms), frequency, kRate);
  }
};

// The library's log lines, as they are written.
class LogLines {
 public:
  LogLines() {
    mivo::platform::setLogObserver([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogLines() { mivo::platform::setLogObserver(nullptr); }
  bool contains(const std::string& line) {
    std::lock_guard lock(mutex_);
    for (const auto& written : lines_)
      if (written == line) return true;
    return false;
  }
  bool eventuallyContains(const std::string& line) {
    return eventually(10s, [&] { return contains(line); });
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class CaptureOnPipeWire : public ::testing::Test {
 protected:
  void TearDown() override {
    host.stop();
    EXPECT_TRUE(setDefaultOutput("A"));
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.framesAfterStop, 0) << "frame callback after mivo_tap_stop returned";
    EXPECT_EQ(host.badFrames, 0);
  }

  LogLines log;
  Host host;
};

TEST_F(CaptureOnPipeWire, CapturesAForeignToneButNotItsOwnPlayback) {
  mivo::pwtest::OwnTone own(880);
  ASSERT_TRUE(own.isPlaying());
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  EXPECT_TRUE(log.contains("[mivo-tap] build complete: rate=48000 output=A"));
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  auto signal = host.record(1s);
  // Both channels carry 0.5, so the mono mix does too; a glitch may cost some.
  EXPECT_GT(mivo::pwtest::toneAmplitude(signal, 440, kRate), 0.25);
  EXPECT_LT(mivo::pwtest::toneAmplitude(signal, 880, kRate), 0.01);
  std::lock_guard lock(host.mutex);
  EXPECT_EQ(host.lastRate, 48000);
}

TEST_F(CaptureOnPipeWire, FollowsTheDefaultOutputToAnotherDevice) {
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(log.eventuallyContains(
      "[mivo-tap] default output changed A \u2192 B \u2014 rebuilding"));
  EXPECT_TRUE(log.eventuallyContains("[mivo-tap] rebuild OK on B"));
  // The foreign stream moves to B with the default; the capture follows it.
  EXPECT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  EXPECT_EQ(host.stoppedCalls, 0);
}

TEST_F(CaptureOnPipeWire, GoesSilentWhenTheDefaultOutputIsAbsentAndResumesWhenOneReturns) {
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));

  // No default output at all: nothing to rebuild on, the chain stays.
  ASSERT_TRUE(mivo::pwtest::run("pw-metadata -n default -d 0 default.audio.sink >/dev/null"));
  auto frames = host.frameCount();
  EXPECT_TRUE(eventually(5s, [&] { return host.frameCount() > frames + 48000; }));
  EXPECT_EQ(host.stoppedCalls, 0);

  // A default naming a sink that is not there: the rebuild fails.
  ASSERT_TRUE(mivo::pwtest::run(
      "pw-metadata -n default 0 default.audio.sink '{\"name\":\"gone\"}' Spa:String:JSON >/dev/null"));
  EXPECT_TRUE(log.eventuallyContains(
      "[mivo-tap] rebuild FAILED rc=7 \u2014 far side silent until a device returns"));
  EXPECT_TRUE(eventually(5s, [&] { return host.stoppedCalls == 1; }));
  EXPECT_STREQ(mivo_capture_last_error(), "AudioHardwareCreateAggregateDevice failed: 560947818");
  EXPECT_EQ(host.start(), MIVO_TAP_ALREADY_CAPTURING);

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(log.eventuallyContains("[mivo-tap] default output changed ? \u2192 B \u2014 rebuilding"));
  EXPECT_TRUE(log.eventuallyContains("[mivo-tap] rebuild OK on B"));
  frames = host.frameCount();
  EXPECT_TRUE(eventually(5s, [&] { return host.frameCount() > frames + 4800; }));
}

TEST_F(CaptureOnPipeWire, FollowsWhenItsOutputVanishes) {
  std::string module = mivo::pwtest::commandOutput(
      "pactl load-module module-null-sink sink_name=C rate=48000 channels=2");
  ASSERT_FALSE(module.empty());
  ASSERT_TRUE(setDefaultOutput("C"));
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  // Our connection may see the switch a moment after the pulse server did.
  EXPECT_TRUE(log.contains("[mivo-tap] build complete: rate=48000 output=C") ||
              log.eventuallyContains("[mivo-tap] rebuild OK on C"));

  ASSERT_TRUE(mivo::pwtest::run("pactl unload-module " + module));
  // The session manager falls back to A or B; the capture goes with it.
  EXPECT_TRUE(log.eventuallyContains("[mivo-tap] rebuild OK on A") ||
              log.contains("[mivo-tap] rebuild OK on B"));
  auto frames = host.frameCount();
  EXPECT_TRUE(eventually(5s, [&] { return host.frameCount() > frames + 4800; }));
}

TEST_F(CaptureOnPipeWire, StartAndStopAHundredTimesLeaveNothingBehind) {
  mivo::pwtest::ForeignPlayer foreign(440);
  auto cycle = [&] {
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
    host.stop();
    std::lock_guard lock(host.mutex);
    host.frames = 0;
    host.stopReturned = false;
  };
  for (int i = 0; i < 5; ++i) cycle();  // let the first-use state settle
  int threads = mivo::pwtest::threadCount();
  int descriptors = mivo::pwtest::openDescriptorCount();
  long memory = mivo::pwtest::residentKiB();
  for (int i = 0; i < 100 && !HasFatalFailure(); ++i) cycle();

  // A capture released on its own queue lets that queue's thread end by itself.
  EXPECT_TRUE(eventually(5s, [&] { return mivo::pwtest::threadCount() == threads; }))
      << mivo::pwtest::threadCount() << " threads, " << threads << " before";
  // The server hands buffers and wake-up descriptors over as they are
  // needed, so the count moves by a few; one leaked per capture would be 100.
  EXPECT_LT(mivo::pwtest::openDescriptorCount() - descriptors, 10);
  EXPECT_LT(mivo::pwtest::residentKiB() - memory, 4096) << "KiB grown over 100 captures";
  EXPECT_TRUE(eventually(5s, [] {
    return mivo::pwtest::commandOutput("pw-link -l; pw-cli ls Node").find("mivo-capture") ==
           std::string::npos;
  }));
}

TEST_F(CaptureOnPipeWire, NoFrameCallbackOnceStopHasReturned) {
  mivo::pwtest::ForeignPlayer foreign(440);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
    host.stop();
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(host.mutex);
    ASSERT_EQ(host.framesAfterStop, 0);
    host.frames = 0;
    host.stopReturned = false;
  }
}

// Run with PIPEWIRE_REMOTE naming no server.
TEST(CaptureWithoutServer, StartFailsWithTheTapStageCodeAndLeavesNothing) {
  Host host;
  int threads = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    EXPECT_EQ(host.start(), MIVO_TAP_TAP_FAILED);
    EXPECT_STREQ(mivo_capture_last_error(), "could not translate own PID to a process object");
    if (attempt == 0) threads = mivo::pwtest::threadCount();
  }
  EXPECT_EQ(mivo::pwtest::threadCount(), threads);
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_EQ(host.frameCount(), 0);
}

}  // namespace
