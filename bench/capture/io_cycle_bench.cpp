// Cost of one IO cycle (downmix, count, frame callback) for 512-frame
// cycles, against a plain memcpy of the same input bytes measured in the
// same run. Rounds alternate between the two so both see the same machine.
//
//   build/bench/capture/bench_io_cycle [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/simulated/simulated_audio_system.h"
#include "tap_capture.h"

namespace {

using mivo::audio::AudioBuffer;
using mivo::audio::AudioBufferList;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFrames = 512;
constexpr int kCyclesPerRound = 20000;

struct Layout {
  const char* name;
  std::uint32_t buffers;
  std::uint32_t channelsPerBuffer;
};

void consume(void* ctx, std::uint8_t, const float* samples, std::int32_t frames, std::int32_t) {
  *static_cast<volatile float*>(ctx) = samples[frames - 1];
}

template <typename Work>
double nanosecondsPerFrame(Work&& work) {
  const auto start = Clock::now();
  for (int i = 0; i < kCyclesPerRound; ++i) work(i);
  const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
  return elapsed.count() / (double(kCyclesPerRound) * kFrames);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void run(const Layout& layout, int rounds) {
  const std::uint32_t samplesPerBuffer = kFrames * layout.channelsPerBuffer;
  std::vector<std::vector<float>> data(layout.buffers, std::vector<float>(samplesPerBuffer));
  for (auto& buffer : data)
    for (std::uint32_t i = 0; i < samplesPerBuffer; ++i) buffer[i] = float(i % 97) / 97.0f - 0.5f;
  std::vector<AudioBuffer> buffers;
  for (auto& buffer : data)
    buffers.push_back({layout.channelsPerBuffer, samplesPerBuffer * 4, buffer.data()});
  const AudioBufferList list{layout.buffers, buffers.data()};
  const std::size_t inputBytes = std::size_t{samplesPerBuffer} * 4 * layout.buffers;
  std::vector<unsigned char> copy(inputBytes);

  volatile float sink = 0;
  auto capture = std::make_shared<mivo::capture::TapCapture>(
      mivo::audio::SimulatedAudioSystem::shared(), const_cast<float*>(&sink), &consume, nullptr);
  capture->handleLocked(&list);

  std::vector<double> memcpyTimes, cycleTimes;
  for (int r = 0; r < rounds; ++r) {
    memcpyTimes.push_back(nanosecondsPerFrame([&](int i) {
      for (std::uint32_t b = 0; b < layout.buffers; ++b)
        std::memcpy(copy.data() + b * samplesPerBuffer * 4, data[b].data(), samplesPerBuffer * 4);
      copy[static_cast<std::size_t>(i) % inputBytes] ^= 1;  // keeps the copy observable
    }));
    cycleTimes.push_back(nanosecondsPerFrame([&](int) { capture->handleLocked(&list); }));
  }
  const double baseline = median(memcpyTimes), cycle = median(cycleTimes);
  std::printf("%-22s  io cycle %7.3f ns/frame   memcpy %7.3f ns/frame   ratio %5.2fx\n",
              layout.name, cycle, baseline, cycle / baseline);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  std::printf("512-frame cycles, median of %d rounds of %d cycles\n", rounds, kCyclesPerRound);
  for (const Layout& layout :
       {Layout{"interleaved stereo", 1, 2}, Layout{"interleaved 6-channel", 1, 6},
        Layout{"planar, 2 buffers", 2, 1}})
    run(layout, rounds);
}
