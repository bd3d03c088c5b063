// The C entry points: one capture at a time, the status codes, the
// last-error slot.
#include <cstdlib>
#include <future>
#include <thread>
#include <utility>

#include "capture_fixture.h"

namespace mivo::testing {
namespace {

using RegistryTest = CaptureTest;

// The slot lives as long as the process, so only a fresh one shows it empty:
// the threadsafe style runs the statement in a newly executed copy of this
// binary in which no other test has run.
TEST_F(RegistryTest, LastErrorIsNullBeforeAnyFailure) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool nullAtFirst = mivo_capture_last_error() == nullptr;
        addDefaultOutput("A");
        Host host;
        const bool nullAfterSuccess = host.start() == 0 && mivo_capture_last_error() == nullptr;
        mivo_tap_stop();
        std::exit(nullAtFirst && nullAfterSuccess ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(RegistryTest, LastErrorTextStaysValidUntilTheSameThreadAsksAgain) {
  Host host;
  ASSERT_EQ(host.start(), 7);  // no default output yet
  const char* held = mivo_capture_last_error();
  addDefaultOutput("A");
  ASSERT_EQ(host.start(), 0);
  // A rebuild failing on the control queue records a newer text, which
  // another thread then reads.
  sim().setDefaultOutput(sim().addOutputDevice({"B", 48000, false}));
  ASSERT_TRUE(host.waitForStopped(1));
  const std::string seenElsewhere =
      std::async(std::launch::async, [] { return std::string(mivo_capture_last_error()); }).get();
  EXPECT_STREQ(held, "no default output device UID");
  EXPECT_EQ(seenElsewhere.rfind("aggregate stream is not float32", 0), 0u) << seenElsewhere;
  EXPECT_EQ(lastError(), seenElsewhere);
  mivo_tap_stop();  // before host goes
}

TEST_F(RegistryTest, SecondStartIsRefusedAndItsCallbacksNeverRun) {
  addDefaultOutput("A");
  Host first, second;
  ASSERT_EQ(first.start(), 0);
  EXPECT_EQ(second.start(), 1);
  EXPECT_EQ(lastError(), "already capturing");
  sim().deliverCycles(3);
  EXPECT_EQ(first.frameCallCount(), 3);
  EXPECT_EQ(second.frameCallCount(), 0);
  EXPECT_EQ(sim().liveCounts().taps, 1u);
}

TEST_F(RegistryTest, StopWithNothingRegisteredReturnsZeroAndLogsNothing) {
  // Whatever an earlier failure left in the slot stays there.
  const std::string before = lastError();
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_TRUE(log().empty());
  EXPECT_EQ(lastError(), before);
}

TEST_F(RegistryTest, SecondStopAfterAFirstDoesNothing) {
  addDefaultOutput("A");
  Host host;
  ASSERT_EQ(host.start(), 0);
  EXPECT_EQ(mivo_tap_stop(), 0);
  const auto linesAfterFirst = log().size();
  sim().clearJournal();
  EXPECT_EQ(mivo_tap_stop(), 0);
  EXPECT_EQ(log().size(), linesAfterFirst);
  EXPECT_TRUE(sim().journal().empty());
}

TEST_F(RegistryTest, FailedStartFreesTheRegistryAndKeepsItsTextAfterASuccess) {
  Host host;
  EXPECT_EQ(host.start(), 7);  // no default output yet
  EXPECT_EQ(lastError(), "no default output device UID");
  EXPECT_EQ(mivo_tap_stop(), 0);
  addDefaultOutput("A");
  EXPECT_EQ(host.start(), 0);
  EXPECT_EQ(lastError(), "no default output device UID");
}

TEST_F(RegistryTest, StopDuringTheStartsBuildSupersedesTheStart) {
  addDefaultOutput("A");
  Host host;
  sim().hold(Operation::CreateAggregateDevice);
  auto start = std::async(std::launch::async, [&] { return host.start(); });
  ASSERT_TRUE(sim().waitUntilHeld(10s));
  auto stop = std::async(std::launch::async, [] { return mivo_tap_stop(); });
  // Removing the listener comes right after taking the capture out; the
  // stop then waits for the build.
  ASSERT_TRUE(waitForJournal("removePropertyListener"));
  EXPECT_EQ(stop.wait_for(50ms), std::future_status::timeout);
  sim().release();
  ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(start.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(stop.get(), 0);
  EXPECT_EQ(start.get(), 4);
  EXPECT_EQ(lastError(), "start superseded by a concurrent stop");
  // The start's own stop waits for the one under way: one stop, one line.
  EXPECT_EQ(countLogged("stopped after 0 callbacks"), 1u);
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  // The registry is free again.
  EXPECT_EQ(host.start(), 0);
}

TEST_F(RegistryTest, AnythingThrownBelowTheBoundaryFailsTheStartAndFreesTheRegistry) {
  addDefaultOutput("A");
  platform::setLogObserver([thrown = false](std::string_view) mutable {
    if (!std::exchange(thrown, true)) throw 42;  // not a std::exception
  });
  Host host;
  EXPECT_EQ(host.start(), 6);
  EXPECT_EQ(lastError(), "could not start capture: unknown exception");
  EXPECT_EQ(sim().liveCounts(), SimulatedAudioSystem::LiveCounts{});
  EXPECT_EQ(host.start(), 0);
}

TEST_F(RegistryTest, EveryFrameCarriesTheStartsContextAndSourceZero) {
  addDefaultOutput("A", 44100);
  Host host;
  ASSERT_EQ(host.start(), 0);
  sim().deliverCycles(5);
  std::lock_guard lock(host.mutex);
  EXPECT_FALSE(host.badFrame);
  EXPECT_EQ(host.frameCalls, 5);
  EXPECT_EQ(host.rates, std::vector<std::int32_t>{44100});
}

}  // namespace
}  // namespace mivo::testing
