// The IO delivery of the capture stream, without a server: what each proc's
// queue receives, a queue that falls far behind, work that outlives its
// proc, and what the processing thread allocates.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "allocation_counter.h"
#include "audio/pipewire/io_delivery.h"
#include "platform/serial_queue.h"

namespace mivo::audio::pipewire {
namespace {

struct Cycle {
  std::vector<float> samples;
  std::uint32_t channels = 0;
  double sampleTime = 0;
  bool onQueue = false;
};

// What a proc's block received, shared with the block.
struct Received {
  std::mutex mutex;
  std::vector<Cycle> cycles;

  std::vector<Cycle> take() {
    std::lock_guard lock(mutex);
    return std::exchange(cycles, {});
  }
};

IOBlock recordingBlock(const std::shared_ptr<Received>& received, platform::SerialQueue& queue) {
  return [received, &queue](const AudioTimeStamp* now, const AudioBufferList* input,
                            const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*) {
    const AudioBuffer& buffer = input->mBuffers[0];
    const auto* samples = static_cast<const float*>(buffer.mData);
    std::lock_guard lock(received->mutex);
    received->cycles.push_back({{samples, samples + buffer.mDataByteSize / sizeof(float)},
                                buffer.mNumberChannels, now->mSampleTime, queue.isCurrent()});
  };
}

// A cycle whose every sample tells which cycle and which sample it is.
std::vector<float> cycleSamples(int cycle, std::uint32_t frames, std::uint32_t channels) {
  std::vector<float> samples(std::size_t(frames) * channels);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = float(cycle * 100000 + int(i));
  return samples;
}

// Holds a queue until released, so that work piles up on it.
class QueueGate {
 public:
  explicit QueueGate(platform::SerialQueue& queue) {
    queue.async([opened = opened_.get_future().share()] { opened.wait(); });
  }
  ~QueueGate() { open(); }
  void open() {
    if (!isOpen_) opened_.set_value();
    isOpen_ = true;
  }

 private:
  std::promise<void> opened_;
  bool isOpen_ = false;
};

TEST(IoDelivery, EachCycleArrivesIntactInOrderAndTimedOnTheProcsQueue) {
  struct Case {
    const char* what;
    std::uint32_t frames;
    std::uint32_t channels;
  };
  const Case cases[] = {
      {"the capture's quantum", 256, 2},
      {"one frame, mono", 1, 1},
      {"a cycle that just fits a ring slot", 2048, 2},
      {"a cycle longer than a ring slot", 2049, 2},
      {"a long cycle of many channels", 4096, 8},
  };
  for (const Case& c : cases) {
    platform::SerialQueue queue("test.io");
    auto received = std::make_shared<Received>();
    IoDelivery delivery;
    delivery.add(7, queue, recordingBlock(received, queue));
    ASSERT_TRUE(delivery.setRunning(7, true));
    for (int cycle = 0; cycle < 3; ++cycle)
      delivery.deliver(cycleSamples(cycle, c.frames, c.channels).data(), c.frames, c.channels);
    queue.sync([] {});
    auto cycles = received->take();
    ASSERT_EQ(cycles.size(), 3u) << c.what;
    for (int cycle = 0; cycle < 3; ++cycle) {
      EXPECT_EQ(cycles[cycle].samples, cycleSamples(cycle, c.frames, c.channels)) << c.what;
      EXPECT_EQ(cycles[cycle].channels, c.channels) << c.what;
      EXPECT_EQ(cycles[cycle].sampleTime, double(cycle) * c.frames) << c.what;
      EXPECT_TRUE(cycles[cycle].onQueue) << c.what;
    }
  }
}

TEST(IoDelivery, AQueueFarBehindStillGetsEveryCycleUnchanged) {
  platform::SerialQueue queue("test.io");
  auto received = std::make_shared<Received>();
  IoDelivery delivery;
  delivery.add(1, queue, recordingBlock(received, queue));
  delivery.setRunning(1, true);
  // Three times as many cycles as the ring holds wait on the queue, so no
  // slot may be refilled while its cycle is still queued.
  constexpr int kCycles = 48;
  {
    QueueGate gate(queue);
    for (int cycle = 0; cycle < kCycles; ++cycle)
      delivery.deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
  }
  // And once it has caught up, the ring is used again.
  for (int cycle = kCycles; cycle < kCycles + 20; ++cycle) {
    delivery.deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
    queue.sync([] {});
  }
  auto cycles = received->take();
  ASSERT_EQ(cycles.size(), std::size_t(kCycles + 20));
  for (int cycle = 0; cycle < kCycles + 20; ++cycle)
    ASSERT_EQ(cycles[cycle].samples, cycleSamples(cycle, 256, 2)) << "cycle " << cycle;
}

TEST(IoDelivery, SubmitsOnlyForRunningProcsAndNothingOnceRemoved) {
  platform::SerialQueue queue("test.io");
  auto first = std::make_shared<Received>();
  auto second = std::make_shared<Received>();
  IoDelivery delivery;
  auto samples = cycleSamples(0, 256, 2);
  auto cycle = [&] {
    delivery.deliver(samples.data(), 256, 2);
    queue.sync([] {});
  };
  delivery.add(1, queue, recordingBlock(first, queue));
  delivery.add(2, queue, recordingBlock(second, queue));
  cycle();
  EXPECT_TRUE(first->take().empty()) << "added but not started";
  delivery.setRunning(1, true);
  delivery.setRunning(2, true);
  cycle();
  EXPECT_EQ(first->take().size(), 1u);
  EXPECT_EQ(second->take().size(), 1u);
  delivery.setRunning(1, false);
  EXPECT_TRUE(delivery.remove(2));
  cycle();
  EXPECT_TRUE(first->take().empty()) << "stopped";
  EXPECT_TRUE(second->take().empty()) << "removed";
  EXPECT_FALSE(delivery.remove(2));
  EXPECT_FALSE(delivery.setRunning(2, true));
  EXPECT_FALSE(delivery.setRunning(99, true));
}

TEST(IoDelivery, WorkAlreadyQueuedRunsIntactAfterItsProcAndTheDeliveryAreGone) {
  platform::SerialQueue queue("test.io");
  auto received = std::make_shared<Received>();
  auto delivery = std::make_unique<IoDelivery>();
  delivery->add(1, queue, recordingBlock(received, queue));
  delivery->setRunning(1, true);
  {
    QueueGate gate(queue);
    for (int cycle = 0; cycle < 5; ++cycle) delivery->deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
    delivery->deliver(cycleSamples(5, 4000, 2).data(), 4000, 2);  // one not from the ring
    EXPECT_TRUE(delivery->remove(1));
    delivery.reset();
  }
  queue.sync([] {});
  auto cycles = received->take();
  ASSERT_EQ(cycles.size(), 6u);
  for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(cycles[cycle].samples, cycleSamples(cycle, 256, 2));
  EXPECT_EQ(cycles[5].samples, cycleSamples(5, 4000, 2));
  // The last run let go of the block and what it holds.
  EXPECT_EQ(received.use_count(), 1);
}

TEST(IoDelivery, TheProcessingThreadAllocatesOnlyForTheQueuesOwnBookkeeping) {
  platform::SerialQueue queue("test.io");
  std::atomic<long> sum = 0;
  IoDelivery delivery;
  delivery.add(1, queue, [&](const AudioTimeStamp*, const AudioBufferList* input, const AudioTimeStamp*,
                             AudioBufferList*, const AudioTimeStamp*) {
    sum += long(static_cast<const float*>(input->mBuffers[0].mData)[0]);
  });
  delivery.setRunning(1, true);
  std::vector<float> samples(512, 1.0f);
  constexpr int kCycles = 2000;
  long counted = 0;
  mivo::testing::AllocationCounter counter;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    counter.begin();
    delivery.deliver(samples.data(), 256, 2);
    counted += counter.end();
    queue.sync([] {});  // a queue that keeps up, as the capture's does
  }
  EXPECT_EQ(sum, kCycles);
  // The queue's list of work takes a block of several entries now and
  // then; a copy of each cycle would be at least one allocation per cycle.
  EXPECT_LT(counted, kCycles / 8);
}

}  // namespace
}  // namespace mivo::audio::pipewire
