// The IO cycle allocates nothing in steady state. Counts every operator new
// made on the test's thread while a capture handles 10,000 cycles.
#include <vector>

#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "audio/simulated/simulated_audio_system.h"
#include "tap_capture.h"

namespace mivo::capture {
namespace {

void consume(void* ctx, std::uint8_t, const float* samples, std::int32_t frames, std::int32_t) {
  *static_cast<float*>(ctx) += samples[frames - 1];
}

struct Layout {
  const char* name;
  std::uint32_t buffers;
  std::uint32_t channels;
};

TEST(SteadyStateAllocations, NoneOver10000Cycles) {
  for (const Layout layout :
       {Layout{"stereo", 1, 2}, Layout{"6ch", 1, 6}, Layout{"planar", 2, 1}}) {
    float sink = 0;
    auto capture = std::make_shared<TapCapture>(audio::SimulatedAudioSystem::shared(), &sink,
                                                &consume, nullptr);
    std::vector<float> samples(512 * layout.channels, 0.25f);
    std::vector<audio::AudioBuffer> buffers(
        layout.buffers,
        audio::AudioBuffer{layout.channels, static_cast<std::uint32_t>(samples.size() * 4),
                           samples.data()});
    const audio::AudioBufferList list{layout.buffers, buffers.data()};
    capture->handleLocked(&list);  // the first cycle sizes the buffer

    testing::AllocationCounter counter;
    counter.begin();
    for (int i = 0; i < 10000; ++i) capture->handleLocked(&list);  // logs at 1500, 3000, ...
    EXPECT_EQ(counter.end(), 0) << layout.name;
    EXPECT_EQ(capture->deliveredCycles(), 10001);
  }
}

}  // namespace
}  // namespace mivo::capture
