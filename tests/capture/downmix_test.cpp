#include "downmix.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace mivo::capture {
namespace {

using audio::AudioBuffer;
using audio::AudioBufferList;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct BufferSpec {
  std::vector<float> samples;
  std::uint32_t channels = 1;
  bool nullData = false;
  // Byte size when it differs from the samples' (to model ragged buffers).
  std::optional<std::uint32_t> byteSize{};
};

struct Case {
  std::string name;
  std::vector<BufferSpec> buffers;
  std::optional<std::int32_t> expectedFrames;  // nullopt: the cycle is skipped
};

// Straight from the rule, one output value at a time, float arithmetic in
// the same order: channels in ascending order / buffers in list order.
std::vector<float> reference(const std::vector<BufferSpec>& buffers, std::int32_t frames) {
  std::vector<float> mono(static_cast<std::size_t>(frames));
  if (buffers.size() == 1) {
    const std::uint32_t ch = buffers[0].channels == 0 ? 1 : buffers[0].channels;
    for (std::int32_t i = 0; i < frames; ++i) {
      float sum = 0;
      for (std::uint32_t c = 0; c < ch; ++c) sum += buffers[0].samples[i * ch + c];
      mono[i] = sum / static_cast<float>(ch);
    }
    return mono;
  }
  float used = 0;
  for (const auto& b : buffers) {
    if (b.nullData) continue;
    for (std::int32_t j = 0; j < frames; ++j) mono[j] += b.samples[j];
    used += 1;
  }
  for (auto& v : mono) v /= used;
  return mono;
}

float referencePeak(const std::vector<float>& mono) {
  float peak = 0;
  for (float v : mono)
    if (!std::isnan(v) && std::fabs(v) >= peak) peak = std::fabs(v);
  return peak;
}

std::vector<float> ramp(int n, float start = 0.1f, float step = 0.01f) {
  std::vector<float> v;
  for (int i = 0; i < n; ++i) v.push_back(start + step * static_cast<float>(i));
  return v;
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"NoBuffers", {}, std::nullopt},
      {"OneNullBuffer", {{ramp(8), 2, true}}, std::nullopt},
      {"ZeroChannelsIsMono", {{{0.25f, -0.5f, 0.75f, -1.0f}, 0}}, 4},
      {"StereoDropsTrailingSample", {{{0.1f, 0.3f, 0.5f, 0.7f, 0.9f}, 2}}, 2},
      {"SixChannelsTooFewSamples", {{ramp(5), 6}}, std::nullopt},
      {"SixChannelsTwoFrames", {{ramp(13), 6}}, 2},
      {"ThreeChannelsOddDivisor", {{ramp(30, -0.7f, 0.05f), 3}}, 10},
      {"ShortByteSizeRoundsDown", {{ramp(4), 1, false, 15}}, 3},
      {"OneBufferTooFewBytes", {{ramp(1), 1, false, 3}}, std::nullopt},
      {"StereoCancelsToSilence", {{{0.5f, -0.5f, 0.5f, -0.5f}, 2}}, 2},
      {"PlanarShortestBufferWins", {{ramp(16)}, {ramp(8, -0.3f)}}, 8},
      {"PlanarNullBufferSkipped", {{ramp(6)}, {ramp(6), 1, true}, {ramp(6, 0.9f, -0.2f)}}, 6},
      {"PlanarAllNull", {{ramp(4), 1, true}, {ramp(4), 1, true}}, std::nullopt},
      {"PlanarEmptyBufferWithDataSkipsCycle", {{ramp(4)}, {ramp(2), 1, false, 0}}, std::nullopt},
      {"PlanarIgnoresChannelCounts", {{ramp(4), 2}, {ramp(4, 0.5f), 2}}, 4},
      {"PlanarFourBuffers", {{ramp(5)}, {ramp(5, 1)}, {ramp(5, -2)}, {ramp(5, 0.3f, 0.3f)}}, 5},
      {"NaNDoesNotBecomePeak", {{{kNaN, 0.25f, -0.125f}, 1}}, 3},
      {"InfinityIsAPeak", {{{0.5f, kInf, -0.25f, 0.0f}, 2}}, 2},
      {"NegativeZeroStaysZero", {{{-0.0f, -0.0f}, 2}}, 1},
  };
  return all;
}

AudioBufferList makeList(std::vector<BufferSpec>& layout, std::vector<AudioBuffer>& storage) {
  storage.clear();
  for (auto& s : layout) {
    AudioBuffer b;
    b.mNumberChannels = s.channels;
    b.mDataByteSize = s.byteSize.value_or(static_cast<std::uint32_t>(s.samples.size() * 4));
    b.mData = s.nullData ? nullptr : s.samples.data();
    storage.push_back(b);
  }
  return AudioBufferList{static_cast<std::uint32_t>(storage.size()), storage.data()};
}

class DownmixCases : public ::testing::TestWithParam<Case> {};

TEST_P(DownmixCases, MatchesReferenceValueByValue) {
  Case c = GetParam();
  std::vector<AudioBuffer> storage;
  const AudioBufferList list = makeList(c.buffers, storage);
  std::vector<float> mono;
  const auto cycle = downmixToMono(list, mono);
  if (!c.expectedFrames) {
    EXPECT_FALSE(cycle.has_value());
    return;
  }
  ASSERT_TRUE(cycle.has_value());
  ASSERT_EQ(cycle->frames, *c.expectedFrames);
  const std::vector<float> expected = reference(c.buffers, cycle->frames);
  for (std::int32_t i = 0; i < cycle->frames; ++i) {
    // Bitwise: the same additions in the same order give the same bits.
    EXPECT_EQ(0, std::memcmp(&expected[i], &mono[i], sizeof(float)))
        << "frame " << i << ": expected " << expected[i] << " got " << mono[i];
  }
  const float peak = referencePeak(expected);
  EXPECT_EQ(peak, cycle->peak);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DownmixCases, ::testing::ValuesIn(cases()),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST(Downmix, ReusesItsBufferAndGrowsOnlyForLongerCycles) {
  std::vector<float> mono;
  std::vector<float> data = ramp(512 * 2);
  AudioBuffer buffer{2, static_cast<std::uint32_t>(data.size() * 4), data.data()};
  AudioBufferList list{1, &buffer};
  ASSERT_TRUE(downmixToMono(list, mono));
  const float* first = mono.data();
  buffer.mDataByteSize = 256 * 2 * 4;
  ASSERT_EQ(downmixToMono(list, mono)->frames, 256);
  EXPECT_EQ(first, mono.data());
  EXPECT_GE(mono.size(), 512u);
}

TEST(Downmix, PlanarMeanIsOverBuffersWithData) {
  std::vector<float> a{1.0f, 2.0f}, c{3.0f, 4.0f};
  AudioBuffer buffers[3] = {{1, 8, a.data()}, {1, 8, nullptr}, {1, 8, c.data()}};
  AudioBufferList list{3, buffers};
  std::vector<float> mono;
  const auto cycle = downmixToMono(list, mono);
  ASSERT_TRUE(cycle);
  EXPECT_EQ(mono[0], 2.0f);
  EXPECT_EQ(mono[1], 3.0f);
  EXPECT_EQ(cycle->peak, 3.0f);
}

}  // namespace
}  // namespace mivo::capture
