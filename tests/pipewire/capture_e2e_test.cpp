// The capture library's C functions on a real PipeWire server (the private
// session of pw-session.sh: outputs A, the default, and B), with the log
// read through the platform's observer.
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mivo_capture.h"
#include "platform/system_log.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using mivo::pwtest::eventually;

constexpr double kRate = 48000;

// Asks the session manager to switch the default output. Whether and when
// the library follows is read from its own log, never from another client
// (each pactl call binds the metadata afresh, which hides a deaf binding).
// A server that stops answering fails the switch at once instead of hanging
// the test until ctest's timeout.
bool setDefaultOutput(const std::string& name) {
  return mivo::pwtest::run("timeout 10 pactl set-default-sink " + name);
}

constexpr const char* kSurround51 = "FL,FR,FC,LFE,RL,RR";

double decibels(double amplitude, double reference) {
  return 20 * std::log10(amplitude / reference);
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
  std::chrono::steady_clock::time_point lastFrameAt{};
  std::chrono::steady_clock::duration longestPause{};  // between two frame callbacks

  static void onFrame(void* ctx, std::uint8_t source, const float* samples, std::int32_t frameCount,
                      std::int32_t sampleRate) {
    auto* host = static_cast<Host*>(ctx);
    std::lock_guard lock(host->mutex);
    if (host->stopReturned) ++host->framesAfterStop;
    if (source != 0 || samples == nullptr || frameCount < 1) ++host->badFrames;
    host->samples.insert(host->samples.end(), samples, samples + frameCount);
    host->frames += frameCount;
    host->lastRate = sampleRate;
    auto now = std::chrono::steady_clock::now();
    if (host->lastFrameAt != std::chrono::steady_clock::time_point{})
      host->longestPause = std::max(host->longestPause, now - host->lastFrameAt);
    host->lastFrameAt = now;
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
  // Ready for the next capture: what the last one delivered is dropped, so
  // that many short captures hold no more memory than one.
  int framesAfterStopCount() {
    std::lock_guard lock(mutex);
    return framesAfterStop;
  }
  void forgetCapture() {
    std::lock_guard lock(mutex);
    samples.clear();
    samples.shrink_to_fit();
    frames = 0;
    stopReturned = false;
  }
  // The mono signal of the next stretch of time.
  std::vector<float> record(std::chrono::milliseconds length) {
    {
      std::lock_guard lock(mutex);
      samples.clear();
    }
    std::this_thread::sleep_for(length);
    std::lock_guard lock(mutex);
    return std::exchange(samples, {});
  }
  // The next count samples, however long a busy machine takes to deliver
  // them (the graph drops cycles when it is late); fewer after 10 s.
  std::vector<float> recordSamples(std::size_t count) {
    {
      std::lock_guard lock(mutex);
      samples.clear();
    }
    eventually(10s, [&] {
      std::lock_guard lock(mutex);
      return samples.size() >= count;
    });
    std::lock_guard lock(mutex);
    return std::exchange(samples, {});
  }
  double amplitudeNow(double frequency) {
    return mivo::pwtest::toneAmplitude(record(250ms), frequency, kRate);
  }
  std::chrono::steady_clock::duration takeLongestPause() {
    std::lock_guard lock(mutex);
    return std::exchange(longestPause, {});
  }
};

// The library's log lines, as they are written.
class LogLines {
 public:
  LogLines() {
    mivo::platform::setLogObserver([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
      if (onLine_) onLine_(line);
    });
  }
  // Runs on the library's thread as it writes each line, before it goes on.
  void onLine(std::function<void(std::string_view)> hook) {
    std::lock_guard lock(mutex_);
    onLine_ = std::move(hook);
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
  int count(const std::string& line) {
    std::lock_guard lock(mutex_);
    return int(std::count(lines_.begin(), lines_.end(), line));
  }
  bool eventuallyCounts(const std::string& line, int times,
                        std::chrono::milliseconds timeout = 10s) {
    return eventually(timeout, [&] { return count(line) >= times; });
  }
  bool containsPrefix(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::function<void(std::string_view)> onLine_;
};

// Runs body in a child that is pid 1 of a PID namespace of its own, and
// waits for it; its exit status, 1 when body failed. The child's failures
// are printed as they happen.
int runAsSandboxedProcess(const std::function<void()>& body) {
  pid_t outer = fork();
  if (outer == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(2);
    pid_t sandboxed = fork();
    if (sandboxed == 0) {
      if (getpid() == 1) body();
      std::fflush(stdout);
      _exit(getpid() != 1 || ::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(sandboxed, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
  }
  int status = 0;
  waitpid(outer, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool hasSink(const std::string& name) {
  return mivo::pwtest::run("pactl list short sinks | cut -f2 | grep -qx '" + name + "'");
}

class CaptureOnPipeWire : public ::testing::Test {
 protected:
  void TearDown() override {
    host.stop();
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.framesAfterStop, 0) << "frame callback after mivo_tap_stop returned";
    EXPECT_EQ(host.badFrames, 0);
  }

  // Makes sink the default output before any stream starts, so that the
  // tones play into it.
  void makeDefault(const std::string& sink) {
    ASSERT_TRUE(eventually(10s, [&] { return hasSink(sink); })) << "no sink " << sink;
    ASSERT_TRUE(setDefaultOutput(sink));
    ASSERT_TRUE(eventually(
        5s, [&] { return mivo::pwtest::commandOutput("pactl get-default-sink") == sink + "\n"; }));
  }

  // The foreign tone (440 Hz, 0.5) is captured at its own level and the
  // host's own tones (880 Hz, and 660 Hz through the pulse server) not at
  // all. Two seconds of samples are cut into windows of 250 ms, a whole
  // number of periods of each tone, so that no tone leaks into another's
  // measure. The foreign level is the best window's: a cycle the graph
  // dropped on a busy machine lowers a window's level but never raises it.
  // The own levels are over all windows at once, where the click of a
  // dropped cycle weighs least.
  void expectForeignOnceAndOwnNever(const std::string& output) {
    ASSERT_TRUE(eventually(10s, [&] {
      return log.contains("[mivo-tap] build complete: rate=48000 output=" + output) ||
             log.contains("[mivo-tap] rebuild OK on " + output);
    }));
    ASSERT_TRUE(eventually(10s, [&] { return host.amplitudeNow(440) > 0.2; }));
    std::this_thread::sleep_for(500ms);  // any further links are made by now
    constexpr std::size_t kWindow = std::size_t(kRate) / 4;
    std::vector<float> signal = host.recordSamples(8 * kWindow);
    ASSERT_GE(signal.size(), 8 * kWindow);
    signal.resize(8 * kWindow);
    double foreign = 0;
    for (std::size_t start = 0; start < signal.size(); start += kWindow)
      foreign = std::max(foreign, mivo::pwtest::toneAmplitude(
                                      std::span(signal).subspan(start, kWindow), 440, kRate));
    EXPECT_NEAR(foreign, 0.5, 0.05);
    EXPECT_LT(mivo::pwtest::toneAmplitude(signal, 880, kRate), 0.01);
    EXPECT_LT(mivo::pwtest::toneAmplitude(signal, 660, kRate), 0.01);
  }

  // Both tones play into the default output, a relay to the device A.
  void expectEachSoundOnceThrough(const std::string& sink) {
    makeDefault(sink);
    mivo::pwtest::OwnTone own(880);
    ASSERT_TRUE(own.isPlaying());
    mivo::pwtest::OwnPulseTone ownThroughPulse(660);
    ASSERT_TRUE(ownThroughPulse.isPlaying());
    mivo::pwtest::ForeignPlayer foreign(440);
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    expectForeignOnceAndOwnNever(sink);
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
  // Both channels carry 0.5, so the mono mix does too.
  EXPECT_GT(mivo::pwtest::steadyToneAmplitude(signal, 440, kRate), 0.4);
  EXPECT_LT(mivo::pwtest::toneAmplitude(signal, 880, kRate), 0.01);
  std::lock_guard lock(host.mutex);
  EXPECT_EQ(host.lastRate, 48000);
}

// Cycles run late on a busy machine otherwise, and each late one is lost.
TEST_F(CaptureOnPipeWire, RunsItsCyclesOnARealtimeThread) {
  int before = mivo::pwtest::realtimeThreadCount();
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
  EXPECT_GT(mivo::pwtest::realtimeThreadCount(), before);
}

TEST_F(CaptureOnPipeWire, FollowsTheDefaultOutputToAnotherDevice) {
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(
      log.eventuallyContains("[mivo-tap] default output changed A \u2192 B \u2014 rebuilding"));
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
  ASSERT_TRUE(
      mivo::pwtest::run("pw-metadata -n default 0 default.audio.sink '{\"name\":\"gone\"}' "
                        "Spa:String:JSON >/dev/null"));
  EXPECT_TRUE(log.eventuallyContains(
      "[mivo-tap] rebuild FAILED rc=7 \u2014 far side silent until a device returns"));
  EXPECT_TRUE(eventually(5s, [&] { return host.stoppedCalls == 1; }));
  EXPECT_STREQ(mivo_capture_last_error(), "AudioHardwareCreateAggregateDevice failed: 560947818");
  EXPECT_EQ(host.start(), MIVO_TAP_ALREADY_CAPTURING);

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(
      log.eventuallyContains("[mivo-tap] default output changed ? \u2192 B \u2014 rebuilding"));
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

TEST_F(CaptureOnPipeWire, StartAndStopThreeHundredTimesLeaveNothingBehind) {
  mivo::pwtest::ForeignPlayer foreign(440);
  auto cycle = [&] {
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
    host.stop();
    host.forgetCapture();
  };
  for (int i = 0; i < 5; ++i) cycle();  // let the first-use state settle
  int threads = mivo::pwtest::threadCount();
  int descriptors = mivo::pwtest::openDescriptorCount();
  long memory = mivo::pwtest::residentKiB();
  for (int i = 0; i < 300 && !HasFatalFailure(); ++i) cycle();

  // A capture released on its own queue lets that queue's thread end by itself.
  EXPECT_TRUE(eventually(5s, [&] { return mivo::pwtest::threadCount() == threads; }))
      << mivo::pwtest::threadCount() << " threads, " << threads << " before";
  // The server hands buffers and wake-up descriptors over as they are
  // needed, so the count moves by a few; one leaked per capture would be 300.
  EXPECT_LT(mivo::pwtest::openDescriptorCount() - descriptors, 10);
  // The heap holds nothing more after a stop (heaptrack), but what is
  // resident moves by up to 2 MiB from one reading to the next: each
  // capture's converter allocates and frees 17 MB. 14 KiB kept per capture
  // would pass 4 MiB.
  EXPECT_LT(mivo::pwtest::residentKiB() - memory, 4096) << "KiB grown over 300 captures";
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
    ASSERT_EQ(host.framesAfterStopCount(), 0);
    host.forgetCapture();
  }
}

TEST_F(CaptureOnPipeWire, ResumesEachTimeItsServerIsKilledAndStartedAgain) {
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  for (int loss = 1; loss <= 3 && !HasFatalFailure(); ++loss) {
    SCOPED_TRACE("loss " + std::to_string(loss));
    auto player = std::make_unique<mivo::pwtest::ForeignPlayer>(440);
    ASSERT_TRUE(eventually(10s, [&] { return host.amplitudeNow(440) > 0.2; }));
    ASSERT_TRUE(mivo::pwtest::sessionCommand("kill"));
    EXPECT_TRUE(eventually(5s, [&] { return host.stoppedCalls == loss; }));
    EXPECT_TRUE(log.eventuallyCounts(
        "[mivo-tap] rebuild FAILED rc=6 \u2014 far side silent until a device returns", loss));
    player.reset();  // its stream died with the server
    if (loss == 1) {
      // Trying again while nothing answers adds no thread and keeps no descriptor.
      int threads = mivo::pwtest::threadCount();
      int descriptors = mivo::pwtest::openDescriptorCount();
      std::this_thread::sleep_for(2s);
      EXPECT_EQ(mivo::pwtest::threadCount(), threads);
      EXPECT_LE(mivo::pwtest::openDescriptorCount() - descriptors, 2);
    }
    ASSERT_TRUE(mivo::pwtest::sessionCommand("revive"));
    EXPECT_TRUE(log.eventuallyCounts("[mivo-tap] rebuild OK on A", loss, 20s));
  }
  mivo::pwtest::ForeignPlayer player(440);
  EXPECT_TRUE(eventually(10s, [&] { return host.amplitudeNow(440) > 0.2; }));
  EXPECT_EQ(host.stoppedCalls, 3);
}

// Asks for the switch to B without waiting for pactl: the server is
// signalled as the library follows the switch, which may be before pactl
// has its answer, and then pactl fails (killed server) or waits out its
// timeout (stopped server) although the switch was made. Whether the
// library followed is read from its log.
void switchToBInTheBackground() {
  ASSERT_TRUE(mivo::pwtest::run("timeout 10 pactl set-default-sink B >/dev/null 2>&1 &"));
}

// Sends signal to the server the moment the library starts rebuilding on a
// switch to B, so that the build runs into what the signal did.
void signalServerWhenTheSwitchToBBuilds(LogLines& log, int signal) {
  pid_t server = mivo::pwtest::daemonPid("pipewire");
  ASSERT_GT(server, 0);
  log.onLine([server, signal, sent = false](std::string_view line) mutable {
    if (!sent && line.starts_with("[mivo-tap] default output changed A") &&
        line.find("B \u2014 rebuilding") != std::string_view::npos) {
      sent = true;
      kill(server, signal);
    }
  });
}

TEST_F(CaptureOnPipeWire, OneStoppedCallbackWhenTheServerIsLostDuringABuild) {
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
  signalServerWhenTheSwitchToBBuilds(log, SIGKILL);
  switchToBInTheBackground();
  ASSERT_TRUE(eventually(10s, [&] { return host.stoppedCalls >= 1; }));
  // The loss's own notification and the retries find the capture silent already.
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(host.stoppedCalls, 1);

  // Frames resuming end the silence: the next loss is news again.
  ASSERT_TRUE(mivo::pwtest::sessionCommand("revive"));
  ASSERT_TRUE(eventually(20s, [&] { return log.containsPrefix("[mivo-tap] rebuild OK on"); }));
  std::int64_t framesBefore = host.frameCount();
  ASSERT_TRUE(eventually(10s, [&] { return host.frameCount() > framesBefore; }));
  ASSERT_TRUE(mivo::pwtest::sessionCommand("kill"));
  EXPECT_TRUE(eventually(10s, [&] { return host.stoppedCalls == 2; }));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(host.stoppedCalls, 2);
}

TEST_F(CaptureOnPipeWire, StopReturnsPromptlyWhileABuildWaitsOnAServerThatDoesNotAnswer) {
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.frameCount() > 0; }));
  signalServerWhenTheSwitchToBBuilds(log, SIGSTOP);
  switchToBInTheBackground();
  ASSERT_TRUE(
      eventually(10s, [&] { return log.containsPrefix("[mivo-tap] tap create status=0"); }));
  std::this_thread::sleep_for(200ms);  // the build now waits for its capture node
  auto stopStarted = std::chrono::steady_clock::now();
  host.stop();
  auto stopTook = std::chrono::steady_clock::now() - stopStarted;
  kill(mivo::pwtest::daemonPid("pipewire"), SIGCONT);
  EXPECT_LT(stopTook, 500ms);
  EXPECT_EQ(host.stoppedCalls, 0);

  // The server answers again: nothing of the abandoned build is in the way.
  Host next;
  ASSERT_EQ(next.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  EXPECT_TRUE(eventually(5s, [&] { return next.frameCount() > 0; }));
  next.stop();
}

TEST_F(CaptureOnPipeWire, AHostSlowerThanRealTimeCostsCyclesNotMemory) {
  mivo::pwtest::ForeignPlayer foreign(440);
  std::atomic<bool> slow = false;
  struct SlowHost {
    Host* host;
    std::atomic<bool>* slow;
  } slowHost{&host, &slow};
  auto onFrame = [](void* ctx, std::uint8_t source, const float* samples, std::int32_t count,
                    std::int32_t rate) {
    auto* self = static_cast<SlowHost*>(ctx);
    Host::onFrame(self->host, source, samples, count, rate);
    if (*self->slow) std::this_thread::sleep_for(50ms);
  };
  ASSERT_EQ(mivo_tap_start(&slowHost, onFrame, nullptr), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  long residentBefore = mivo::pwtest::residentKiB();
  slow = true;
  std::this_thread::sleep_for(5s);
  // The old hand-off queued every cycle: 2 MB over these 5 s.
  EXPECT_LT(mivo::pwtest::residentKiB() - residentBefore, 512);
  slow = false;
  // No backlog of old cycles: fresh audio arrives within a second.
  EXPECT_TRUE(eventually(1s, [&] { return host.amplitudeNow(440) > 0.2; }));
  const std::string dropping = "[mivo-tap] host too slow for its cycles: dropping whole cycles";
  EXPECT_TRUE(log.eventuallyContains(dropping));
  EXPECT_EQ(log.count(dropping), 1);
  mivo_tap_stop();
}

TEST_F(CaptureOnPipeWire, ARestartOfTheSessionManagerAloneDoesNotInterruptFrames) {
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  host.takeLongestPause();
  ASSERT_TRUE(mivo::pwtest::sessionCommand("kill", "wireplumber"));
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(mivo::pwtest::sessionCommand("revive"));
  std::this_thread::sleep_for(1s);
  EXPECT_LT(host.takeLongestPause(), 100ms);
  EXPECT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  EXPECT_FALSE(log.containsPrefix("[mivo-tap] default output changed"));
  EXPECT_EQ(host.stoppedCalls, 0);
}

// A stereo mix of each stream whatever the output's layout: the same stereo
// content at the same level on a stereo and a 5.1 output, and the 5.1
// channels of a 5.1 stream at the standard downmix levels.
TEST_F(CaptureOnPipeWire, MixesEveryOutputLayoutDownToStereoAtTheStandardLevels) {
  ASSERT_FALSE(mivo::pwtest::commandOutput(
                   "pactl load-module module-null-sink sink_name=S51 rate=48000 channels=6 "
                   "channel_map=front-left,front-right,front-center,lfe,rear-left,rear-right")
                   .empty());
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  // A peak below this is no tone: the quietest one expected, at -3 dB, peaks near 0.2.
  constexpr double kSilence = 0.01;
  auto levelOn = [&](const std::string& sink, const std::string& layout,
                     const std::string& toneChannels, bool heard = true) {
    // New streams go to the default output, in its layout.
    if (!log.contains("[mivo-tap] build complete: rate=48000 output=" + sink) &&
        !log.contains("[mivo-tap] rebuild OK on " + sink)) {
      EXPECT_TRUE(setDefaultOutput(sink));
      EXPECT_TRUE(log.eventuallyContains("[mivo-tap] rebuild OK on " + sink));
    }
    mivo::pwtest::ForeignPlayer player(440, layout, toneChannels);
    // The level is the tone's peak: cycles the graph dropped on a busy
    // machine lower its average over a window but never its peak (the
    // library's periodic log line reports the same figure). Measured once
    // the stream's links are all made: two windows in a row agree, and a
    // tone that should be heard is (a player still starting on a slow
    // machine gives two silent windows that agree).
    auto peakNow = [&] {
      const std::vector<float> samples = host.record(250ms);
      float peak = 0;
      for (float sample : samples) peak = std::max(peak, std::abs(sample));
      return double{peak};
    };
    double previous = 0;
    double now = 0;
    EXPECT_TRUE(eventually(10s,
                           [&] {
                             now = peakNow();
                             return (!heard || now > kSilence) &&
                                    std::abs(now - std::exchange(previous, now)) <
                                        0.02 * now + 0.005;
                           }))
        << layout << " " << toneChannels;
    return now;
  };
  double stereoOnStereo = levelOn("A", "FL,FR", "FL,FR");
  ASSERT_GT(stereoOnStereo, 0.25);
  struct Case {
    const char* what;
    const char* layout;
    const char* toneChannels;
    double expectedDecibels;
  };
  const Case cases[] = {
      {"stereo stream", "FL,FR", "FL,FR", 0},
      {"5.1 stream, front pair", kSurround51, "FL,FR", 0},
      {"5.1 stream, centre only", kSurround51, "FC", -3},
      {"5.1 stream, rear pair", kSurround51, "RL,RR", -3},
  };
  for (const Case& c : cases) {
    double level = decibels(levelOn("S51", c.layout, c.toneChannels), stereoOnStereo);
    EXPECT_NEAR(level, c.expectedDecibels, 1.0) << c.what << " on the 5.1 output";
  }
  double lfe = levelOn("S51", kSurround51, "LFE", false);
  EXPECT_LT(lfe, kSilence) << "the LFE is left out";
}

TEST_F(CaptureOnPipeWire, FollowsASwitchAfterTheDefaultMetadataWentDeaf) {
  mivo::pwtest::DefaultSinkObserver bystander;  // long-lived: it goes deaf with everybody
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  pid_t sessionManager = mivo::pwtest::daemonPid("wireplumber");
  ASSERT_GT(sessionManager, 0);
  // A client binds the metadata and vanishes before the session manager
  // answers the bind: the metadata module's count of waiting bindings sticks.
  ASSERT_EQ(kill(sessionManager, SIGSTOP), 0);
  mivo::pwtest::bindDefaultMetadataAndVanish();
  ASSERT_EQ(kill(sessionManager, SIGCONT), 0);

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(eventually(5s, [&] {
    return log.contains("[mivo-tap] default output changed A \u2192 B \u2014 rebuilding");
  }));
  EXPECT_TRUE(log.eventuallyContains("[mivo-tap] rebuild OK on B"));
  EXPECT_EQ(bystander.lastHeard().find("\"B\""), std::string::npos)
      << "the deaf binding was not reproduced: " << bystander.lastHeard();
}

TEST_F(CaptureOnPipeWire, ItsFreshBindingsNeverDeafenOtherClients) {
  mivo::pwtest::DefaultSinkObserver bystander;
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  pid_t sessionManager = mivo::pwtest::daemonPid("wireplumber");
  ASSERT_GT(sessionManager, 0);
  // With the session manager stalled, the library's fresh bindings wait for
  // their answers; one is still out when nobody follows the output any more.
  ASSERT_EQ(kill(sessionManager, SIGSTOP), 0);
  std::this_thread::sleep_for(2500ms);
  host.stop();
  ASSERT_EQ(kill(sessionManager, SIGCONT), 0);

  ASSERT_TRUE(setDefaultOutput("B"));
  EXPECT_TRUE(eventually(5s, [&] {
    return bystander.lastHeard().find("\"B\"") != std::string::npos;
  })) << bystander.lastHeard();
}

TEST_F(CaptureOnPipeWire, FiveHundredSwitchesWithStreamsPlayingLeaveNothingBehind) {
  mivo::pwtest::ForeignPlayer low(440), high(660);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  auto switches = [&](int from, int to) {
    for (int i = from; i < to && !HasFailure(); ++i) {
      std::string name = i % 2 == 0 ? "B" : "A";
      ASSERT_TRUE(setDefaultOutput(name));
      ASSERT_TRUE(log.eventuallyCounts("[mivo-tap] rebuild OK on " + name, i / 2 + 1))
          << "switch " << i;
      host.record(0ms);  // the host keeps no samples: the memory measured is the library's
    }
  };
  switches(0, 10);  // let the first-use state settle
  int threads = mivo::pwtest::threadCount();
  int descriptors = mivo::pwtest::openDescriptorCount();
  long memory = mivo::pwtest::residentKiB();
  switches(10, 510);
  EXPECT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  EXPECT_TRUE(eventually(5s, [&] { return mivo::pwtest::threadCount() == threads; }))
      << mivo::pwtest::threadCount() << " threads, " << threads << " before";
  // One leaked per switch would be 500; buffers and wake-ups move it by a few.
  EXPECT_LT(mivo::pwtest::openDescriptorCount() - descriptors, 10);
  // Each chain's converter allocates and frees 17 MB, which moves what is
  // resident by up to 2 MiB; 8 KiB kept per switch would pass 4 MiB.
  EXPECT_LT(mivo::pwtest::residentKiB() - memory, 4096) << "KiB grown over 500 switches";
  host.stop();
  EXPECT_LT(mivo::pwtest::openDescriptorCount() - descriptors, 10) << "after stop";
}

// The session manager moves a player that follows the default output to
// the new one while the capture rebuilds there; a player that converts its
// file's format (16-bit) crashed when the capture's own quantum came and
// went with each chain.
TEST_F(CaptureOnPipeWire, APlayerMovedByEachSwitchPlaysOn) {
  mivo::pwtest::ToneFile file(440);
  mivo::pwtest::ChildProcess player({"pw-play", file.path()}, SIGTERM,
                                    mivo::pwtest::Lineage::stranger);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  ASSERT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
  for (int i = 0; i < 12 && !HasFailure(); ++i) {
    const std::string name = i % 2 == 0 ? "B" : "A";
    ASSERT_TRUE(setDefaultOutput(name));
    ASSERT_TRUE(log.eventuallyCounts("[mivo-tap] rebuild OK on " + name, i / 2 + 1));
    std::this_thread::sleep_for(300ms);  // the player is moved and plays there
    ASSERT_EQ(kill(player.pid(), 0), 0) << "the player ended at switch " << i;
  }
  EXPECT_TRUE(eventually(5s, [&] { return host.amplitudeNow(440) > 0.2; }));
}

TEST_F(CaptureOnPipeWire, CapturesAJackClient) {
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  // Its node has no media class and its port no channel; it plays on A
  // through links of its own.
  mivo::pwtest::JackPlayer jack(660, "Test output A:playback_F[LR]");
  EXPECT_TRUE(eventually(10s, [&] { return host.amplitudeNow(660) > 0.2; }));
}

TEST_F(CaptureOnPipeWire, CapturesEachSoundOnceThroughALoopbackSink) {
  mivo::pwtest::ChildProcess loopback({"pw-loopback", "-m", "[FL FR]",
                                       "--capture-props=media.class=Audio/Sink node.name=fx",
                                       "--playback-props=target.object=A"});
  expectEachSoundOnceThrough("fx");
}

// The canceller passes sound on only while its microphone delivers too.
TEST_F(CaptureOnPipeWire, CapturesEachSoundOnceThroughAnEchoCanceller) {
  ASSERT_TRUE(mivo::pwtest::run(
      "pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=mic "
      "media.class=Audio/Source/Virtual audio.position=[FL FR] object.linger=true }' >/dev/null"));
  ASSERT_TRUE(
      mivo::pwtest::run("pactl load-module module-echo-cancel aec_method=null "
                        "source_master=mic sink_master=A >/dev/null"));
  expectEachSoundOnceThrough("echo-cancel-sink");
}

TEST_F(CaptureOnPipeWire, CapturesEachSoundOnceThroughACombineSink) {
  ASSERT_TRUE(mivo::pwtest::run(
      "pactl load-module module-combine-sink sink_name=both slaves=A,B >/dev/null"));
  expectEachSoundOnceThrough("both");
}

// The way desktop equalisers work: the applications play into a sink of
// the effects application's own, which reads its monitor through a filter
// node and plays the result into the device; no link group ties them.
TEST_F(CaptureOnPipeWire, CapturesEachSoundOnceThroughAnEffectsChainOnAMonitor) {
  ASSERT_TRUE(mivo::pwtest::run("pactl load-module module-null-sink sink_name=fx >/dev/null"));
  mivo::pwtest::EffectsFilter effects("mivo-test-effects");
  for (const char* channel : {"FL", "FR"}) {
    std::string side(channel);
    ASSERT_TRUE(eventually(10s, [&] {
      return mivo::pwtest::run("pw-link fx:monitor_" + side + " mivo-test-effects:input_" + side +
                               " 2>/dev/null");
    })) << side;
    ASSERT_TRUE(
        mivo::pwtest::run("pw-link mivo-test-effects:output_" + side + " A:playback_" + side));
  }
  expectEachSoundOnceThrough("fx");
}

// The pulse server speaks for its clients on connections of its own; the
// host's stream is known by the pid it reported there.
TEST_F(CaptureOnPipeWire, CapturesAForeignToneButNotItsOwnPulsePlayback) {
  mivo::pwtest::OwnPulseTone own(660);
  ASSERT_TRUE(own.isPlaying());
  mivo::pwtest::ForeignPlayer foreign(440);
  ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  expectForeignOnceAndOwnNever("A");
}

// The host and a foreign player are each pid 1 of a PID namespace of their
// own, as sandboxed applications are, and say so to the server. The player
// is started outside the host's namespace: an orphan inside it would be the
// child of its pid 1, the host.
TEST_F(CaptureOnPipeWire, TellsItselfFromASandboxedProcessWithTheSameLocalPid) {
  mivo::pwtest::SandboxedPlayer foreign(440);
  auto sandboxedHost = [&] {
    mivo::pwtest::OwnTone own(880);
    ASSERT_TRUE(own.isPlaying());
    mivo::pwtest::OwnPulseTone ownThroughPulse(660);
    ASSERT_TRUE(ownThroughPulse.isPlaying());
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    expectForeignOnceAndOwnNever("A");
    host.stop();
  };
  EXPECT_EQ(runAsSandboxedProcess(sandboxedHost), 0) << "the sandboxed host failed (see above)";
}

// A stranger in a sandbox of its own plays through the pulse server as pid
// 1 there, the sandboxed host's local pid too: its stream carries only that
// pid, beside the program it names, which is not the host's.
TEST_F(CaptureOnPipeWire, CapturesASandboxedPulseStrangerWithTheHostsLocalPid) {
  const mivo::pwtest::ToneFile tone(440);
  mivo::pwtest::ChildProcess foreign(
      {"unshare", "--pid", "--fork", "--mount-proc", "--kill-child", "paplay", tone.path()},
      SIGKILL, mivo::pwtest::Lineage::stranger);
  auto sandboxedHost = [&] {
    mivo::pwtest::OwnPulseTone own(660);
    ASSERT_TRUE(own.isPlaying());
    ASSERT_EQ(host.start(), MIVO_TAP_OK) << mivo_capture_last_error();
    expectForeignOnceAndOwnNever("A");
    host.stop();
  };
  EXPECT_EQ(runAsSandboxedProcess(sandboxedHost), 0) << "the sandboxed host failed (see above)";
}

TEST(CaptureWithoutServer, StartFailsWithTheTapStageCodeAndLeavesNothing) {
  // The library connects on its first start, to the server this names.
  ASSERT_EQ(setenv("PIPEWIRE_REMOTE", "mivo-no-such-server", 1), 0);
  Host host;
  int threads = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    EXPECT_EQ(host.start(), MIVO_TAP_TAP_FAILED);
    EXPECT_STREQ(mivo_capture_last_error(), "no sound server answers");
    if (attempt == 0) threads = mivo::pwtest::threadCount();
  }
  EXPECT_EQ(mivo::pwtest::threadCount(), threads);
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_EQ(host.frameCount(), 0);
}

}  // namespace
