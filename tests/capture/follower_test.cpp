// Following the default output: rebuilds on a change, the stopped callback
// when a rebuild fails, recovery on a later change.
#include <future>

#include "capture_fixture.h"
#include "tap_capture.h"

namespace mivo::testing {
namespace {

using capture::TapCapture;

class FollowerTest : public CaptureTest {
 protected:
  void TearDown() override {
    if (capture) {
      capture->stop();
      capture.reset();
    }
    CaptureTest::TearDown();
  }

  std::int32_t startCapture() {
    capture = std::make_shared<TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
    return capture->start();
  }

  void switchTo(audio::AudioObjectID device) {
    sim().setDefaultOutput(device);
    capture->flushQueues();
  }

  bool waitForLogged(const std::string& message, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!logContains(message)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  const std::string arrow = " \xE2\x86\x92 ";
  const std::string dash = " \xE2\x80\x94 ";
  Host host;
  std::shared_ptr<TapCapture> capture;
};

TEST_F(FollowerTest, UnchangedDeviceDoesNothing) {
  const auto a = addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  clearLog();
  sim().clearJournal();
  switchTo(a);
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(sim().liveCounts().startedIOProcs, 1u);
  for (const auto& entry : sim().journal()) EXPECT_EQ(entry.rfind("read", 0), 0u) << entry;
}

TEST_F(FollowerTest, CanonicallyEquivalentUIDIsTheSameDevice) {
  addDefaultOutput("caf\xC3\xA9");
  ASSERT_EQ(startCapture(), 0);
  clearLog();
  switchTo(sim().addOutputDevice({"cafe\xCC\x81", 48000, true}));
  EXPECT_TRUE(log().empty());
}

TEST_F(FollowerTest, NoDefaultOrNoUIDKeepsTheRunningChain) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  clearLog();
  switchTo(audio::kAudioObjectUnknown);
  switchTo(sim().addOutputDevice({std::nullopt, 48000, true}));
  sim().failOnce(Operation::ReadDefaultOutput, -50);
  switchTo(sim().addOutputDevice({"C", 48000, true}));
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(sim().liveCounts().startedIOProcs, 1u);
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 1);
}

TEST_F(FollowerTest, SwitchRebuildsOnTheNewDeviceWithItsRate) {
  addDefaultOutput("A", 48000);
  ASSERT_EQ(startCapture(), 0);
  sim().deliverCycles(2);
  clearLog();
  switchTo(sim().addOutputDevice({"B", 44100, true}));
  const auto lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), logged("default output changed A" + arrow + "B" + dash + "rebuilding"));
  EXPECT_EQ(lines.back(), logged("rebuild OK on B"));
  EXPECT_TRUE(logContains("build complete: rate=44100 output=B"));
  EXPECT_EQ(sim().lastAggregateDescription()->find("master")->string(), "B");
  sim().deliverCycles(3);
  {
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.rates, (std::vector<std::int32_t>{48000, 44100}));
  }
  EXPECT_EQ(countLoggedStartingWith("first callback"), 0u);  // once per capture
  EXPECT_EQ(sim().liveCounts().taps, 1u);
  EXPECT_EQ(sim().liveCounts().aggregateDevices, 1u);
  capture->stop();
  EXPECT_TRUE(logContains("stopped after 5 callbacks"));  // counted across rebuilds
}

TEST_F(FollowerTest, FailedRebuildCallsStoppedOnceAndStaysRegistered) {
  addDefaultOutput("A");
  Host host2;
  ASSERT_EQ(host.start(), 0);  // through the registry this time
  sim().failOnce(Operation::CreateAggregateDevice, -50);
  sim().setDefaultOutput(sim().addOutputDevice({"B", 48000, true}));
  ASSERT_TRUE(host.waitForStopped(1));
  EXPECT_TRUE(logContains("rebuild FAILED rc=7" + dash + "far side silent until a device returns"));
  EXPECT_EQ(lastError(), "AudioHardwareCreateAggregateDevice failed: -50");
  EXPECT_EQ(sim().liveCounts().audioObjects(), 0u);
  EXPECT_EQ(sim().liveCounts().listeners, 1u);
  EXPECT_EQ(host2.start(), 1);
  EXPECT_EQ(host.stoppedCount(), 1);
}

TEST_F(FollowerTest, NullCallbacksAreNeverCalled) {
  addDefaultOutput("A");
  capture = std::make_shared<TapCapture>(sim(), nullptr, nullptr, nullptr);
  ASSERT_EQ(capture->start(), 0);
  sim().deliverCycles(2);
  switchTo(sim().addOutputDevice({"B", 48000, false}));  // the rebuild fails
  EXPECT_TRUE(logContains("rebuild FAILED rc=7" + dash + "far side silent until a device returns"));
}

TEST_F(FollowerTest, UnboundCaptureRecoversOnALaterChange) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  switchTo(sim().addOutputDevice({"B", 48000, false}));  // not float: fails
  EXPECT_EQ(host.stoppedCount(), 1);
  EXPECT_TRUE(logContains("rebuild FAILED rc=7" + dash + "far side silent until a device returns"));
  clearLog();
  switchTo(sim().addOutputDevice({"C", 96000, true}));
  EXPECT_EQ(log().front(), logged("default output changed ?" + arrow + "C" + dash + "rebuilding"));
  EXPECT_TRUE(logContains("rebuild OK on C"));
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 1);
  EXPECT_EQ(host.stoppedCount(), 1);
}

// The stopped callback marks the change from capturing to silent: once per
// loss, and again only after frames flowed in between.
TEST_F(FollowerTest, StoppedIsCalledOncePerLossAndAgainOnlyAfterFramesResumed) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  switchTo(sim().addOutputDevice({"B", 48000, false}));
  switchTo(sim().addOutputDevice({"C", 48000, false}));
  EXPECT_EQ(host.stoppedCount(), 1) << "a second failure while silent";
  EXPECT_EQ(countLoggedStartingWith("rebuild FAILED"), 1u);
  EXPECT_EQ(countLoggedStartingWith("rebuild failed again rc=7"), 1u);

  switchTo(sim().addOutputDevice({"D", 48000, true}));
  switchTo(sim().addOutputDevice({"E", 48000, false}));
  EXPECT_EQ(host.stoppedCount(), 1) << "rebuilt, but no frame came in between";

  switchTo(sim().addOutputDevice({"F", 48000, true}));
  sim().deliverCycles(1);
  capture->flushQueues();
  switchTo(sim().addOutputDevice({"G", 48000, false}));
  EXPECT_EQ(host.stoppedCount(), 2) << "frames flowed, then a new loss";
}

// A refused build can itself cause the next notification (on PipeWire a
// refused capture node is reported): that must not become a loop of builds.
TEST_F(FollowerTest, AFailingRebuildIsRetriedOnAGrowingTimerNotOnEveryNotification) {
  const auto a = addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  sim().failUntilCleared(Operation::CreateAggregateDevice, -50);
  sim().removeOutputDevice(a);
  const auto back = sim().addOutputDevice({"A", 48000, true});
  const auto began = std::chrono::steady_clock::now();
  for (int notification = 0; notification < 50; ++notification) switchTo(back);
  std::this_thread::sleep_for(800ms);
  capture->flushQueues();
  const auto elapsed = std::chrono::steady_clock::now() - began;
  // The timer's attempts: at once, then after pauses doubling from 0.1 s.
  std::size_t allowed = 0;
  for (auto at : {0ms, 100ms, 300ms, 700ms, 1500ms, 3100ms, 5100ms, 7100ms})
    if (at <= elapsed) ++allowed;
  const std::size_t attempts = countLoggedStartingWith("default output changed");
  EXPECT_GE(attempts, 2u) << "the timer never tried again";
  EXPECT_LE(attempts, allowed) << "tried on notifications, not on the timer";
  EXPECT_EQ(host.stoppedCount(), 1);

  sim().clearFaults();
  EXPECT_TRUE(waitForLogged("rebuild OK on A", 5s)) << "the timer never retried";
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 1);
  EXPECT_EQ(host.stoppedCount(), 1);
}

TEST_F(FollowerTest, DeviceBackUnderTheSameUIDGetsANewChain) {
  const auto a = addDefaultOutput("A");
  sim().addSource(audio::sim::constantSignal(0.5f));
  ASSERT_EQ(startCapture(), 0);
  sim().removeOutputDevice(a);  // no default now: the dead chain stays, nothing is logged
  capture->flushQueues();
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 0);
  clearLog();
  switchTo(sim().addOutputDevice({"A", 48000, true}));
  EXPECT_EQ(log().front(), logged("default output changed A" + arrow + "A" + dash + "rebuilding"));
  EXPECT_TRUE(logContains("rebuild OK on A"));
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 1);
  EXPECT_EQ(sim().liveCounts().aggregateDevices, 1u);
}

TEST_F(FollowerTest, TwoQuickNotificationsRebuildOnce) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  clearLog();
  const auto b = sim().addOutputDevice({"B", 48000, true});
  sim().setDefaultOutput(b);
  sim().setDefaultOutput(b);
  capture->flushQueues();
  EXPECT_EQ(countLoggedStartingWith("default output changed"), 1u);
  EXPECT_EQ(countLogged("rebuild OK on B"), 1u);
}

TEST_F(FollowerTest, NotificationAfterStopDoesNothing) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  const auto b = sim().addOutputDevice({"B", 48000, true});
  sim().hold(Operation::ReadDefaultOutput);  // the check waits inside its first read
  sim().setDefaultOutput(b);
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  auto stop = std::async(std::launch::async, [&] { capture->stop(); });
  ASSERT_TRUE(waitForJournal("removePropertyListener"));
  sim().release();
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  // The check in flight finished before the teardown; one queued later finds
  // the capture inactive.
  sim().setDefaultOutput(sim().addOutputDevice({"C", 48000, true}));
  capture->flushQueues();
  sim().clearJournal();
  capture->flushQueues();
  EXPECT_TRUE(sim().journal().empty());
  EXPECT_EQ(countLoggedStartingWith("default output changed A"), 1u);
  EXPECT_EQ(countLoggedStartingWith("default output changed"), 1u);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  EXPECT_EQ(host.stoppedCount(), 0);
}

TEST_F(FollowerTest, NotificationDuringTheStartsBuildCausesNoSecondBuild) {
  addDefaultOutput("A");
  const auto b = sim().addOutputDevice({"B", 48000, true});
  sim().hold(Operation::CreateProcessTap);  // before the build reads the default
  auto start = std::async(std::launch::async, [&] { return startCapture(); });
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  sim().setDefaultOutput(b);
  sim().release();
  ASSERT_EQ(start.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(start.get(), 0);
  capture->flushQueues();
  // The build bound the new default itself, so the queued check finds it bound.
  EXPECT_EQ(countLoggedStartingWith("default output changed"), 0u);
  EXPECT_EQ(countLogged("build complete: rate=48000 output=B"), 1u);
}

}  // namespace
}  // namespace mivo::testing
