// Orderings between a stop, the rebuilds it races with and the cycles of a
// chain being built: held calls of the simulated system put each side at
// the point where the other used to slip through.
#include <future>
#include <memory>

#include "capture_fixture.h"
#include "tap_capture.h"

namespace mivo::testing {
namespace {

using capture::TapCapture;

class StopOrderingTest : public CaptureTest {
 protected:
  void TearDown() override {
    sim().release();
    if (capture) capture->stop();
    capture.reset();
    CaptureTest::TearDown();
  }

  std::int32_t startCapture() {
    capture = std::make_shared<TapCapture>(sim(), &host, &Host::frame, &Host::stopped);
    return capture->start();
  }

  Host host;
  std::shared_ptr<TapCapture> capture;
};

TEST_F(StopOrderingTest, TwoConcurrentStopsBothReturnOnlyOnceTheCaptureHasStopped) {
  addDefaultOutput("A");
  ASSERT_EQ(host.start(), 0);
  sim().hold(Operation::DestroyAggregateDevice);
  auto first = std::async(std::launch::async, [] { return mivo_tap_stop(); });
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  auto second = std::async(std::launch::async, [] { return mivo_tap_stop(); });
  // The host may free ctx as soon as either returns.
  EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);
  sim().release();
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(countLogged("stopped after 0 callbacks"), 1u);
  const auto frames = host.frameCallCount();
  sim().deliverCycles(3);
  EXPECT_EQ(host.frameCallCount(), frames);
}

TEST_F(StopOrderingTest, ARebuildQueuedBeforeTheStopRanBuildsNothing) {
  addDefaultOutput("A");
  const auto b = sim().addOutputDevice({"B", 48000, true});
  ASSERT_EQ(startCapture(), 0);
  // The stop has begun and waits in its first call while the switch to B
  // reaches the capture.
  sim().hold(Operation::RemovePropertyListener);
  auto stop = std::async(std::launch::async, [&] { capture->stop(); });
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  sim().clearJournal();
  sim().setDefaultOutput(b);
  capture->flushQueues();
  sim().release();
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  for (const std::string& call : sim().journal())
    EXPECT_NE(call.rfind("create", 0), 0u) << "built after the stop began: " << call;
}

// A build on an output with integer samples starts the device, then refuses
// the stream format; cycles of that device in between must not end the
// silence reported for the loss before it.
TEST_F(StopOrderingTest, OneStoppedCallbackWhenAFailingBuildDeliveredCyclesBeforeItsFormatCheck) {
  addDefaultOutput("A");
  ASSERT_EQ(startCapture(), 0);
  sim().setDefaultOutput(sim().addOutputDevice({"B", 48000, false}));
  capture->flushQueues();
  ASSERT_EQ(host.stoppedCount(), 1);

  sim().hold(Operation::ReadStreamFormat);
  sim().setDefaultOutput(sim().addOutputDevice({"C", 48000, false}));
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  sim().deliverCycles(2);
  sim().release();
  capture->flushQueues();
  EXPECT_EQ(host.stoppedCount(), 1) << "one loss, told twice";
}

}  // namespace
}  // namespace mivo::testing
