// A capture's life: listener registration and removal, teardown, stop and
// the guarantee that no callback runs once stop has returned.
#include <future>
#include <memory>

#include "capture_fixture.h"
#include "tap_capture.h"

namespace mivo::testing {
namespace {

using capture::TapCapture;

using LifecycleTest = CaptureTest;

std::size_t countEntries(const std::vector<std::string>& journal, const std::string& op) {
  return static_cast<std::size_t>(std::count_if(journal.begin(), journal.end(), [&](const auto& e) {
    return e.substr(0, e.find(' ')) == op;
  }));
}

TEST_F(LifecycleTest, FailedListenerRegistrationFailsTheStartAndBuildsNothing) {
  addDefaultOutput("A");
  sim().failOnce(Operation::AddPropertyListener, -50);
  Host host;
  EXPECT_EQ(host.start(), MIVO_TAP_AGGREGATE_FAILED);
  EXPECT_EQ(lastError(), "could not follow the default output device: -50");
  EXPECT_TRUE(logContains("output-change listener installed=false status=-50"));
  EXPECT_EQ(countEntries(sim().journal(), "createProcessTap"), 0u);
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_EQ(countEntries(sim().journal(), "removePropertyListener"), 0u);
  EXPECT_EQ(host.start(), MIVO_TAP_OK) << "the failed start stayed registered";
  mivo_tap_stop();
  sim().failOnce(Operation::AddPropertyListener, audio::kErrNotRunning);
  EXPECT_EQ(host.start(), MIVO_TAP_TAP_FAILED) << "no server: no stage can be made";
  EXPECT_EQ(lastError(), "no sound server answers");
}

TEST_F(LifecycleTest, StopOfACaptureThatNeverBuiltMakesNoHardwareCall) {
  Host host;
  auto capture = std::make_shared<TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
  capture->stop();
  EXPECT_TRUE(sim().journal().empty());
  EXPECT_EQ(log(), std::vector<std::string>{logged("stopped after 0 callbacks")});
}

TEST_F(LifecycleTest, SecondStopTearsNothingDown) {
  addDefaultOutput("A");
  Host host;
  auto capture = std::make_shared<TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
  ASSERT_EQ(capture->start(), 0);
  capture->stop();
  sim().clearJournal();
  capture->stop();
  EXPECT_TRUE(sim().journal().empty());
  EXPECT_EQ(countLogged("stopped after 0 callbacks"), 1u) << "a capture is stopped once";
}

TEST_F(LifecycleTest, StopRemovesTheListenerItRegistered) {
  addDefaultOutput("A");
  Host host;
  ASSERT_EQ(host.start(), 0);
  EXPECT_EQ(sim().liveCounts().listeners, 1u);
  mivo_tap_stop();
  EXPECT_EQ(sim().liveCounts().listeners, 0u);
}

TEST_F(LifecycleTest, StopLogsTheCallbackCount) {
  addDefaultOutput("A");
  Host host;
  ASSERT_EQ(host.start(), 0);
  sim().deliverCycles(7);
  mivo_tap_stop();
  EXPECT_TRUE(logContains("stopped after 7 callbacks"));
}

TEST_F(LifecycleTest, DroppingTheLastReferenceTearsTheChainDown) {
  addDefaultOutput("A");
  Host host;
  auto capture = std::make_shared<TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
  ASSERT_EQ(capture->start(), 0);
  capture->removeOutputListener();
  capture.reset();
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
}

TEST_F(LifecycleTest, NoFrameCallbackOnceStopHasReturned) {
  addDefaultOutput("A");
  Host host;
  std::atomic<bool> stopReturned{false};
  std::atomic<int> late{0};
  host.onFrameHook = [&] {
    if (stopReturned.load()) late.fetch_add(1);
    std::this_thread::sleep_for(1ms);  // widen the window a stop can race
  };
  ASSERT_EQ(host.start(), 0);
  auto feeder = std::async(std::launch::async, [&] {
    for (int i = 0; i < 200 && !stopReturned.load(); ++i) sim().deliverCycles(2);
  });
  while (host.frameCallCount() < 5) std::this_thread::sleep_for(1ms);
  mivo_tap_stop();
  stopReturned.store(true);
  ASSERT_EQ(feeder.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(late.load(), 0);
}

TEST_F(LifecycleTest, FailedStartReturnsOnlyAfterARunningFrameCallbackHasReturned) {
  sim().setDefaultOutput(sim().addOutputDevice({"A", 48000, false}));  // fails after the start
  Host host;
  std::promise<void> entered, mayReturn;
  host.onFrameHook = [&, leave = mayReturn.get_future().share()] {
    entered.set_value();
    leave.wait_for(10s);
  };
  sim().hold(Operation::ReadStreamFormat);  // the device runs, the build has not failed yet
  auto start = std::async(std::launch::async, [&] { return host.start(); });
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  auto delivery = std::async(std::launch::async, [] { sim().deliverCycles(1); });
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
  sim().release();
  ASSERT_TRUE(waitForJournal("removePropertyListener"));  // the failed start is cleaning up
  EXPECT_EQ(start.wait_for(100ms), std::future_status::timeout)
      << "start returned while a frame callback was still running";
  mayReturn.set_value();
  ASSERT_EQ(start.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(start.get(), 7);
  ASSERT_EQ(delivery.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(host.frameCallCount(), 1);
}

TEST_F(LifecycleTest, StopFromInsideTheFrameCallbackDoesNotHang) {
  addDefaultOutput("A");
  Host host;
  std::atomic<int> stops{0};
  host.onFrameHook = [&] {
    if (stops.fetch_add(1) == 0) mivo_tap_stop();
  };
  ASSERT_EQ(host.start(), 0);
  auto delivery = std::async(std::launch::async, [&] { sim().deliverCycles(5); });
  ASSERT_EQ(delivery.wait_for(10s), std::future_status::ready)
      << "stop inside a frame callback hung";
  EXPECT_EQ(host.frameCallCount(), 1);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  EXPECT_EQ(host.start(), 0);  // the registry is free
}

TEST_F(LifecycleTest, StopFromInsideTheStoppedCallbackDoesNotHang) {
  addDefaultOutput("A");
  Host host;
  std::promise<void> stopped;
  host.onStoppedHook = [&] {
    mivo_tap_stop();
    stopped.set_value();
  };
  ASSERT_EQ(host.start(), 0);
  sim().setDefaultOutput(sim().addOutputDevice({"B", 48000, false}));  // rebuild fails
  ASSERT_EQ(stopped.get_future().wait_for(10s), std::future_status::ready)
      << "stop inside the stopped callback hung";
  EXPECT_EQ(host.stoppedCount(), 1);
  EXPECT_NE(host.start(), 1);  // the registry is free
}

}  // namespace
}  // namespace mivo::testing
