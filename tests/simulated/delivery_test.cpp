// IO cycles: layouts, mixing of sources, exact lists, the wait for
// completion, and the real-time clock.
#include <future>
#include <thread>

#include "simulated_test_support.h"

namespace mivo::audio::testing {
namespace {

using Kind = sim::CycleLayout::Kind;
using Delivery = SimulatedSystemTest;

// A signal that tells frame and channel apart: frame + channel / 10.
float marker(std::uint64_t frame, std::uint32_t channel) {
  return float(frame) + float(channel) / 10;
}

TEST_F(Delivery, InterleavedStereoSumsTheSourcesOnTheProcsQueue) {
  startChain();
  audio.addSource(sim::constantSignal(0.5f));
  audio.addSource(marker);
  audio.setCycleLayout({Kind::Interleaved, 2, 4, false, std::nullopt});
  audio.deliverCycles(2);

  const auto cycles = seen();
  ASSERT_EQ(cycles.size(), 2u);
  for (std::size_t k = 0; k < cycles.size(); ++k) {
    const auto& cycle = cycles[k];
    EXPECT_TRUE(cycle.onQueue);
    EXPECT_EQ(cycle.sampleTime, double(4 * k));
    ASSERT_EQ(cycle.buffers.size(), 1u);
    EXPECT_EQ(cycle.buffers[0].mNumberChannels, 2u);
    EXPECT_EQ(cycle.buffers[0].mDataByteSize, 32u);
    for (std::uint32_t i = 0; i < 4; ++i)
      for (std::uint32_t c = 0; c < 2; ++c)
        EXPECT_EQ(cycle.samples[0][i * 2 + c], 0.5f + marker(4 * k + i, c));
  }
}

TEST_F(Delivery, RemovedSourceFallsSilent) {
  startChain();
  const auto tone = audio.addSource(sim::constantSignal(0.25f));
  audio.setCycleLayout({Kind::Interleaved, 1, 2, false, std::nullopt});
  audio.deliverCycles(1);
  audio.removeSource(tone);
  audio.deliverCycles(1);
  const auto cycles = seen();
  ASSERT_EQ(cycles.size(), 2u);
  EXPECT_EQ(cycles[0].samples[0], (std::vector<float>{0.25f, 0.25f}));
  EXPECT_EQ(cycles[1].samples[0], (std::vector<float>{0, 0}));
}

struct LayoutCase {
  const char* what;
  sim::CycleLayout layout;
  std::uint32_t buffers;
  std::uint32_t channelsPerBuffer;
  std::uint32_t byteSize;
};

void PrintTo(const LayoutCase& layoutCase, std::ostream* out) { *out << layoutCase.what; }

class Layouts : public SimulatedSystemTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(Layouts, ShapeAndSamples) {
  const auto& param = GetParam();
  startChain();
  audio.addSource(marker);
  audio.setCycleLayout(param.layout);
  audio.deliverCycles(1);
  const auto cycles = seen();
  ASSERT_EQ(cycles.size(), 1u);
  const auto& cycle = cycles[0];
  ASSERT_EQ(cycle.buffers.size(), param.buffers);
  const bool planar = param.layout.kind == Kind::Planar;
  const auto channels = param.layout.channels;
  for (std::uint32_t b = 0; b < param.buffers; ++b) {
    EXPECT_EQ(cycle.buffers[b].mNumberChannels, param.channelsPerBuffer);
    EXPECT_EQ(cycle.buffers[b].mDataByteSize, param.byteSize);
    EXPECT_EQ(cycle.buffers[b].mData == nullptr, param.layout.nullData);
    const auto& samples = cycle.samples[b];
    for (std::uint32_t s = 0; s < samples.size(); ++s) {
      const bool beyondNatural = s >= param.layout.framesPerCycle * (planar ? 1 : channels);
      const float expected = beyondNatural ? 0
                             : planar      ? marker(s, b)
                                           : marker(s / channels, s % channels);
      EXPECT_EQ(samples[s], expected) << "buffer " << b << " sample " << s;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Layouts,
    ::testing::Values(
        LayoutCase{"stereo", {Kind::Interleaved, 2, 8, false, std::nullopt}, 1, 2, 64},
        LayoutCase{"six interleaved", {Kind::Interleaved, 6, 5, false, std::nullopt}, 1, 6, 120},
        LayoutCase{"mono", {Kind::Interleaved, 1, 3, false, std::nullopt}, 1, 1, 12},
        LayoutCase{"two planar", {Kind::Planar, 2, 8, false, std::nullopt}, 2, 1, 32},
        LayoutCase{"five planar", {Kind::Planar, 5, 3, false, std::nullopt}, 5, 1, 12},
        LayoutCase{"null data", {Kind::Planar, 3, 4, true, std::nullopt}, 3, 1, 16},
        LayoutCase{"odd short size", {Kind::Interleaved, 2, 8, false, 7}, 1, 2, 7},
        LayoutCase{"zero bytes", {Kind::Planar, 2, 8, false, 0}, 2, 1, 0},
        LayoutCase{"longer than the samples", {Kind::Interleaved, 2, 2, false, 40}, 1, 2, 40}),
    [](const auto& testCase) {
      std::string name = testCase.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(Delivery, ExactBufferListIsDeliveredAsGiven) {
  startChain();
  audio.addSource(sim::constantSignal(9));
  audio.setExactBufferList(std::vector<sim::ExactBuffer>{
      {2, 20, false, {1, 2, 3, 4, 5}}, {7, 64, true, {}}, {0, 3, false, {}}});
  audio.deliverCycles(2);
  audio.setExactBufferList(std::vector<sim::ExactBuffer>{});
  audio.deliverCycles(1);
  audio.setExactBufferList(std::nullopt);
  audio.deliverCycles(1);

  const auto cycles = seen();
  ASSERT_EQ(cycles.size(), 4u);
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(cycles[k].buffers.size(), 3u);
    EXPECT_EQ(cycles[k].buffers[0].mNumberChannels, 2u);
    EXPECT_EQ(cycles[k].samples[0], (std::vector<float>{1, 2, 3, 4, 5}));
    EXPECT_EQ(cycles[k].buffers[1].mData, nullptr);
    EXPECT_EQ(cycles[k].buffers[1].mDataByteSize, 64u);
    EXPECT_NE(cycles[k].buffers[2].mData, nullptr);
    EXPECT_EQ(cycles[k].buffers[2].mDataByteSize, 3u);
  }
  EXPECT_TRUE(cycles[2].buffers.empty());
  ASSERT_EQ(cycles[3].buffers.size(), 1u);
  EXPECT_EQ(cycles[3].samples[0].front(), 9);
}

TEST_F(Delivery, OnlyStartedProcsReceiveCycles) {
  audio.deliverCycles(5);  // nothing exists: returns at once
  createTap();
  aggregate = createAggregate();
  const auto proc = createRecordingProc(aggregate);
  audio.deliverCycles(5);
  EXPECT_TRUE(seen().empty());
  ASSERT_EQ(audio.deviceStart(aggregate, proc), kNoErr);
  audio.deliverCycles(3);
  ASSERT_EQ(audio.deviceStop(aggregate, proc), kNoErr);
  audio.deliverCycles(3);
  EXPECT_EQ(seen().size(), 3u);
}

TEST_F(Delivery, EveryStartedProcGetsEveryCycle) {
  startChain();
  const auto second = createRecordingProc(aggregate);
  ASSERT_EQ(audio.deviceStart(aggregate, second), kNoErr);
  audio.deliverCycles(4);
  EXPECT_EQ(seen().size(), 8u);
}

// The proc and its queue go away while deliverCycles() waits; the wait must
// neither touch the dead queue nor hang.
TEST_F(Delivery, WaitSurvivesProcAndQueueDestroyedMeanwhile) {
  createTap();
  aggregate = createAggregate();
  auto ownQueue = std::make_unique<platform::SerialQueue>("sim.test.doomed");
  std::promise<void> entered;
  std::promise<void> proceed;
  auto proceedSignal = proceed.get_future().share();
  std::atomic<int> cycles = 0;
  IOProcID proc = nullptr;
  ASSERT_EQ(audio.createIOProcIDWithBlock(&proc, aggregate, *ownQueue,
                                          [&](auto...) {
                                            if (cycles++ == 0) {
                                              entered.set_value();
                                              proceedSignal.wait();
                                            }
                                          }),
            kNoErr);
  ASSERT_EQ(audio.deviceStart(aggregate, proc), kNoErr);

  std::thread deliverer([&] { audio.deliverCycles(3); });
  entered.get_future().wait();
  ASSERT_EQ(audio.destroyIOProcID(aggregate, proc), kNoErr);
  proceed.set_value();
  ownQueue.reset();  // runs what was posted, then ends
  deliverer.join();
  EXPECT_GE(cycles.load(), 1);
  EXPECT_LE(cycles.load(), 3);
}

TEST_F(Delivery, ClockDeliversConsecutiveCyclesUntilStopped) {
  startChain();
  audio.setCycleLayout({Kind::Interleaved, 2, 480, false, std::nullopt});
  audio.startClock();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seen().size() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  audio.stopClock();
  queue.sync([] {});
  const auto cycles = seen();
  ASSERT_GE(cycles.size(), 3u);
  for (std::size_t k = 0; k < cycles.size(); ++k)
    EXPECT_EQ(cycles[k].sampleTime, 480.0 * double(k));
  audio.deliverCycles(1);  // the clock is gone: this is the only new cycle
  EXPECT_EQ(seen().size(), cycles.size() + 1);
}

}  // namespace
}  // namespace mivo::audio::testing
