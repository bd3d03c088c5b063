// Hosts whose application is more than the process that loaded the library,
// on a real PipeWire server (a private session of pw-session.sh, run beside
// a 520 Hz tone that the session's shell plays: beside_a_tone.sh). Whatever
// the host's processes play stays out; the foreign tones, 440 Hz from
// another application and the shell's 520 Hz, are captured at their level.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mivo_capture.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using mivo::pwtest::eventually;
using mivo::pwtest::Lineage;

constexpr double kRate = 48000;
constexpr double kForeign = 440, kShellsTone = 520;  // both at amplitude 0.5
constexpr double kHostsNative = 880, kHostsThroughPulse = 660;

// What the frame callback received, mono.
class Captured {
 public:
  std::int32_t start() { return mivo_tap_start(this, &Captured::onFrame, nullptr); }

  // The next count samples, or fewer after 10 s.
  std::vector<float> next(std::size_t count) {
    {
      std::lock_guard lock(mutex_);
      samples_.clear();
    }
    eventually(10s, [&] {
      std::lock_guard lock(mutex_);
      return samples_.size() >= count;
    });
    std::lock_guard lock(mutex_);
    return std::exchange(samples_, {});
  }

 private:
  static void onFrame(void* ctx, std::uint8_t, const float* samples, std::int32_t frameCount,
                      std::int32_t) {
    auto* self = static_cast<Captured*>(ctx);
    std::lock_guard lock(self->mutex_);
    self->samples_.insert(self->samples_.end(), samples, samples + frameCount);
  }

  std::mutex mutex_;
  std::vector<float> samples_;
};

// The streams the pulse server lists: every stream of the graph.
int streamCount() {
  return std::atoi(mivo::pwtest::commandOutput("pactl list short sink-inputs | wc -l").c_str());
}

// Once the streams play (the host's two tones and both foreign ones, but
// no JACK client, which has no stream), two seconds cut
// into windows of 250 ms (a whole number of periods of each tone): each
// foreign tone at its level in its best window (a cycle the graph dropped
// on a busy machine lowers a window, never raises it), the host's tones
// nowhere over the whole.
void expectOnlyTheForeignTones(Captured& captured, int streams = 4) {
  ASSERT_TRUE(eventually(10s, [&] { return streamCount() >= streams; }))
      << streamCount() << " streams";
  constexpr std::size_t kWindow = std::size_t(kRate) / 4;
  ASSERT_TRUE(eventually(10s, [&] {
    return mivo::pwtest::toneAmplitude(captured.next(kWindow), kForeign, kRate) > 0.2;
  }));
  std::this_thread::sleep_for(500ms);  // any further links are made by now
  std::vector<float> signal = captured.next(8 * kWindow);
  ASSERT_GE(signal.size(), 8 * kWindow);
  signal.resize(8 * kWindow);
  for (double foreign : {kForeign, kShellsTone}) {
    double best = 0;
    for (std::size_t start = 0; start < signal.size(); start += kWindow)
      best = std::max(best, mivo::pwtest::toneAmplitude(std::span(signal).subspan(start, kWindow),
                                                        foreign, kRate));
    EXPECT_NEAR(best, 0.5, 0.05) << foreign << " Hz";
  }
  for (double own : {kHostsNative, kHostsThroughPulse})
    EXPECT_LT(mivo::pwtest::toneAmplitude(signal, own, kRate), 0.01) << own << " Hz";
}

// The host's sound as a browser engine's processes play it: on a PipeWire
// connection of its own and through the pulse server.
struct HostsTones {
  mivo::pwtest::OwnTone native{kHostsNative};
  mivo::pwtest::OwnPulseTone throughPulse{kHostsThroughPulse};
  bool playing() const { return native.isPlaying() && throughPulse.isPlaying(); }
};

// A forked copy of this process (the same program) that runs body, tells
// the parent with one byte on a pipe that it is done, and waits there
// until it is ended.
class SameProgramChild {
 public:
  explicit SameProgramChild(const std::function<bool()>& body) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      const char done = body() ? 1 : 0;
      if (write(ready[1], &done, 1) != 1) _exit(1);
      while (true) pause();
    }
    close(ready[1]);
    char done = 0;
    ready_ = pid_ > 0 && read(ready[0], &done, 1) == 1 && done == 1;
    close(ready[0]);
  }
  ~SameProgramChild() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  SameProgramChild(const SameProgramChild&) = delete;
  SameProgramChild& operator=(const SameProgramChild&) = delete;
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

class HostApplicationOnPipeWire : public ::testing::Test {
 protected:
  void TearDown() override { mivo_tap_stop(); }

  Captured captured;
};

// A browser engine plays from its audio service, a child of the process
// that loaded the library, running the same program.
TEST_F(HostApplicationOnPipeWire, HearsNothingThatItsChildOfTheSameProgramPlays) {
  SameProgramChild child([] {
    static HostsTones tones;
    return tones.playing();
  });
  ASSERT_TRUE(child.ready());
  mivo::pwtest::ForeignPlayer foreign(kForeign);
  ASSERT_EQ(captured.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  expectOnlyTheForeignTones(captured);
}

// The library is loaded into a child (a renderer, a helper) and the
// application's first process, the same program, plays. The child reports
// its findings by its exit status; its failures print as they happen.
TEST_F(HostApplicationOnPipeWire, HearsNothingThatItsParentOfTheSameProgramPlays) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t host = fork();
  if (host == 0) {
    close(ready[1]);
    char go = 0;
    if (read(ready[0], &go, 1) == 1 && go == 1) {
      mivo::pwtest::ForeignPlayer foreign(kForeign);
      EXPECT_EQ(captured.start(), MIVO_TAP_OK) << mivo_capture_last_error();
      expectOnlyTheForeignTones(captured);
      mivo_tap_stop();
    }
    std::fflush(stdout);
    _exit(go == 1 && !::testing::Test::HasFailure() ? 0 : 1);
  }
  close(ready[0]);
  HostsTones tones;
  const char go = tones.playing() ? 1 : 0;
  EXPECT_EQ(write(ready[1], &go, 1), 1);
  close(ready[1]);
  int status = 0;
  waitpid(host, &status, 0);
  EXPECT_TRUE(tones.playing());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host failed (see above)";
}

// A ringtone played by a player program that the host started, one
// directly and one through a shell of its own.
TEST_F(HostApplicationOnPipeWire, HearsNothingThatPlayersItStartedPlay) {
  const mivo::pwtest::ToneFile native(kHostsNative), throughPulse(kHostsThroughPulse);
  mivo::pwtest::ChildProcess pwPlay({"pw-play", native.path()});
  mivo::pwtest::ChildProcess paplay({"sh", "-c", "paplay \"$0\"; true", throughPulse.path()},
                                    SIGKILL);
  mivo::pwtest::ForeignPlayer foreign(kForeign);
  ASSERT_EQ(captured.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  expectOnlyTheForeignTones(captured);
}

// The host plays as a JACK client into another application's JACK effect,
// which plays into the device: the effect carries the host's sound.
TEST_F(HostApplicationOnPipeWire, HearsNothingItPlaysThroughAJackEffect) {
  mivo::pwtest::JackEffect effect("mivo-test-effect", "Test output A:playback_F[LR]");
  ASSERT_TRUE(eventually(
      10s, [] { return mivo::pwtest::run("pw-link -i | grep -qx 'mivo-test-effect:in'"); }));
  mivo::pwtest::JackPlayer host(kHostsNative, "mivo-test-effect:in", Lineage::child);
  ASSERT_TRUE(eventually(
      10s, [] { return mivo::pwtest::run("pw-link -l | grep -q 'mivo-test-effect:in'"); }));
  mivo::pwtest::OwnPulseTone throughPulse(kHostsThroughPulse);
  mivo::pwtest::ForeignPlayer foreign(kForeign);
  ASSERT_EQ(captured.start(), MIVO_TAP_OK) << mivo_capture_last_error();
  expectOnlyTheForeignTones(captured, 3);
}

}  // namespace
