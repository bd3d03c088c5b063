// IO cycles through the simulated system: frames, their rate and the
// sparse log of them.
#include <cmath>

#include "capture_fixture.h"

namespace mivo::testing {
namespace {

using audio::sim::CycleLayout;

using IOCycleTest = CaptureTest;

// Plays value on channel 0 and -value on channel 1 (further channels 0).
audio::sim::Signal antiphase(float value) {
  return [value](std::uint64_t, std::uint32_t channel) {
    return channel == 0 ? value : channel == 1 ? -value : 0.0f;
  };
}

TEST_F(IOCycleTest, LogsTheFirstCycleAndEvery1500th) {
  addDefaultOutput("A");
  sim().addSource(audio::sim::constantSignal(0.25f));
  Host host;
  ASSERT_EQ(host.start(), 0);
  clearLog();
  sim().deliverCycles(3000);
  EXPECT_EQ(log(), (std::vector<std::string>{
                       logged("first callback: frames=512 peak=0.25 rate=48000"),
                       logged("callbacks=1500 peak=0.25"),
                       logged("callbacks=3000 peak=0.25"),
                   }));
  EXPECT_EQ(host.frameCallCount(), 3000);
}

TEST_F(IOCycleTest, CancellingStereoIsSilenceWithPeakZero) {
  addDefaultOutput("A");
  sim().addSource(antiphase(0.5f));
  Host host;
  ASSERT_EQ(host.start(), 0);
  sim().deliverCycles(1);
  EXPECT_TRUE(logContains("first callback: frames=512 peak=0.0 rate=48000"));
  std::lock_guard lock(host.mutex);
  for (float v : host.lastSamples) ASSERT_EQ(v, 0.0f);
}

TEST_F(IOCycleTest, PlanarBuffersAreAveraged) {
  addDefaultOutput("A");
  CycleLayout layout;
  layout.kind = CycleLayout::Kind::Planar;
  layout.channels = 3;
  layout.framesPerCycle = 256;
  sim().setCycleLayout(layout);
  sim().addSource([](std::uint64_t, std::uint32_t channel) { return 0.25f * float(channel); });
  Host host;
  ASSERT_EQ(host.start(), 0);
  sim().deliverCycles(1);
  std::lock_guard lock(host.mutex);
  ASSERT_EQ(host.lastSamples.size(), 256u);
  for (float v : host.lastSamples) ASSERT_EQ(v, 0.25f);  // (0 + 0.25 + 0.5) / 3
}

TEST_F(IOCycleTest, UnusableCyclesAreSkippedWithoutCountOrLog) {
  addDefaultOutput("A");
  Host host;
  ASSERT_EQ(host.start(), 0);
  clearLog();
  sim().setExactBufferList(std::vector<audio::sim::ExactBuffer>{});  // no buffers
  sim().deliverCycles(2);
  sim().setExactBufferList(std::vector<audio::sim::ExactBuffer>{{6, 20, false, {}}});
  sim().deliverCycles(2);
  sim().setExactBufferList(
      std::vector<audio::sim::ExactBuffer>{{1, 16, true, {}}, {1, 16, true, {}}});
  sim().deliverCycles(2);
  EXPECT_EQ(host.frameCallCount(), 0);
  EXPECT_TRUE(log().empty());
  sim().setExactBufferList(std::vector<audio::sim::ExactBuffer>{{0, 16, false, {1, 2, 3, 4}}});
  sim().deliverCycles(1);
  EXPECT_EQ(host.frameCallCount(), 1);
  EXPECT_TRUE(logContains("first callback: frames=4 peak=4.0 rate=48000"));
  mivo_tap_stop();
  EXPECT_TRUE(logContains("stopped after 1 callbacks"));
}

TEST_F(IOCycleTest, TinyPeaksAreLoggedInExponentForm) {
  addDefaultOutput("A");
  sim().addSource(audio::sim::constantSignal(1.5e-7f));
  Host host;
  ASSERT_EQ(host.start(), 0);
  sim().deliverCycles(1);
  EXPECT_TRUE(logContains("first callback: frames=512 peak=1.5e-07 rate=48000"));
}

}  // namespace
}  // namespace mivo::testing
