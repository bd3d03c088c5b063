// The IO delivery of the capture stream, without a server: what each proc's
// queue receives, a queue that falls far behind, work that outlives its
// proc, and that the processing thread never allocates.
#include "audio/pipewire/io_delivery.h"

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "audio/pipewire/cycle_ring.h"
#include "platform/serial_queue.h"
#include "platform/system_log.h"

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
                                buffer.mNumberChannels,
                                now->mSampleTime,
                                queue.isCurrent()});
  };
}

// Every cycle received, end to end, and whether each piece's sample time
// follows on from the pieces before it.
std::vector<float> joined(const std::vector<Cycle>& pieces, bool& timesFollowOn) {
  std::vector<float> samples;
  timesFollowOn = true;
  double frames = 0;
  for (const Cycle& piece : pieces) {
    timesFollowOn = timesFollowOn && piece.sampleTime == frames && piece.onQueue;
    frames += double(piece.samples.size() / piece.channels);
    samples.insert(samples.end(), piece.samples.begin(), piece.samples.end());
  }
  return samples;
}

// Returns once the cycles delivered before have reached the block: a queued
// item waits for one delivery run at most, and a run delivers one cycle, so
// as many round trips as the ring holds cycles deliver them all.
void drainQueue(platform::SerialQueue& queue) {
  for (std::uint32_t trip = 0; trip <= CycleRing::kSlots + 1; ++trip) queue.sync([] {});
}

// A cycle whose every sample tells which cycle and which sample it is.
std::vector<float> cycleSamples(int cycle, std::uint32_t frames, std::uint32_t channels) {
  std::vector<float> samples(std::size_t(frames) * channels);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = float(cycle * 100000 + int(i));
  return samples;
}

// Holds a queue until released, so that work piles up on it; holding once
// constructed (a rung bell would otherwise overtake a gate not yet running).
class QueueGate {
 public:
  explicit QueueGate(platform::SerialQueue& queue) {
    std::promise<void> holding;
    auto held = holding.get_future();
    queue.async([&holding, opened = opened_.get_future().share()] {
      holding.set_value();
      opened.wait();
    });
    held.wait();
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
      {"a cycle that just fits a ring slot", 1024, 2},
      {"a cycle longer than a ring slot", 1025, 2},
      {"a long cycle of many channels", 4096, 8},
      {"an odd number of channels", 1000, 3},
  };
  for (const Case& c : cases) {
    platform::SerialQueue queue("test.io");
    auto received = std::make_shared<Received>();
    IoDelivery delivery;
    delivery.add(7, queue, recordingBlock(received, queue));
    ASSERT_TRUE(delivery.setRunning(7, true));
    std::vector<float> sent;
    for (int cycle = 0; cycle < 3; ++cycle) {
      auto samples = cycleSamples(cycle, c.frames, c.channels);
      delivery.deliver(samples.data(), c.frames, c.channels);
      sent.insert(sent.end(), samples.begin(), samples.end());
    }
    drainQueue(queue);
    bool timesFollowOn = false;
    auto pieces = received->take();
    EXPECT_EQ(joined(pieces, timesFollowOn), sent) << c.what;
    EXPECT_TRUE(timesFollowOn) << c.what;
    for (const Cycle& piece : pieces) EXPECT_EQ(piece.channels, c.channels) << c.what;
  }
}

TEST(IoDelivery, AQueueFarBehindLosesWholeCyclesAndSaysSoOncePerEpisode) {
  std::mutex logMutex;
  std::vector<std::string> lines;
  platform::setLogObserver([&](std::string_view line) {
    std::lock_guard lock(logMutex);
    lines.emplace_back(line);
  });
  platform::SerialQueue queue("test.io");
  auto received = std::make_shared<Received>();
  IoDelivery delivery;
  delivery.add(1, queue, recordingBlock(received, queue));
  delivery.setRunning(1, true);
  // Three times as many cycles as the ring holds arrive while the queue is
  // held: the ring keeps the first ones whole and drops the rest.
  constexpr int kHeld = 3 * int(CycleRing::kSlots);
  {
    QueueGate gate(queue);
    for (int cycle = 0; cycle < kHeld; ++cycle)
      delivery.deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
  }
  drainQueue(queue);  // the drain has emptied the ring
  // Once it has caught up, every cycle arrives again.
  for (int cycle = kHeld; cycle < kHeld + 20; ++cycle) {
    delivery.deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
    drainQueue(queue);
  }
  auto cycles = received->take();
  ASSERT_EQ(cycles.size(), CycleRing::kSlots + 20);
  for (std::size_t i = 0; i < cycles.size(); ++i) {
    const int cycle = i < CycleRing::kSlots ? int(i) : kHeld + int(i - CycleRing::kSlots);
    ASSERT_EQ(cycles[i].samples, cycleSamples(cycle, 256, 2)) << "cycle " << cycle;
  }
  platform::setLogObserver(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[mivo-tap] host too slow for its cycles: dropping whole cycles",
                       "[mivo-tap] host caught up after 256 dropped cycles"}));
}

TEST(IoDelivery, SubmitsOnlyForRunningProcsAndNothingOnceRemoved) {
  platform::SerialQueue queue("test.io");
  auto first = std::make_shared<Received>();
  auto second = std::make_shared<Received>();
  IoDelivery delivery;
  auto samples = cycleSamples(0, 256, 2);
  auto cycle = [&] {
    delivery.deliver(samples.data(), 256, 2);
    drainQueue(queue);
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
  delivery.setRunning(1, true);
  cycle();
  EXPECT_EQ(first->take().size(), 1u) << "started again";
  EXPECT_FALSE(delivery.remove(2));
  EXPECT_FALSE(delivery.setRunning(2, true));
  EXPECT_FALSE(delivery.setRunning(99, true));
}

TEST(IoDelivery, ADrainRunningAsItsProcGoesFinishesIntactAndNoneStartsAfter) {
  platform::SerialQueue queue("test.io");
  auto received = std::make_shared<Received>();
  std::promise<void> entered;
  std::promise<void> resume;
  auto delivery = std::make_unique<IoDelivery>();
  delivery->add(1, queue,
                [&, recording = recordingBlock(received, queue), first = true](
                    const AudioTimeStamp* now, const AudioBufferList* input, const AudioTimeStamp*,
                    AudioBufferList*, const AudioTimeStamp*) mutable {
                  recording(now, input, now, nullptr, now);
                  if (std::exchange(first, false)) {
                    entered.set_value();
                    resume.get_future().wait();
                  }
                });
  delivery->setRunning(1, true);
  delivery->deliver(cycleSamples(0, 4000, 2).data(), 4000, 2);  // in several slots
  entered.get_future().wait();
  for (int cycle = 1; cycle < 5; ++cycle)
    delivery->deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
  EXPECT_TRUE(delivery->remove(1));
  delivery.reset();
  resume.set_value();
  drainQueue(queue);
  bool timesFollowOn = false;
  EXPECT_EQ(joined(received->take(), timesFollowOn), cycleSamples(0, 4000, 2));
  // The last run let go of the block and what it holds.
  EXPECT_EQ(received.use_count(), 1);
}

// The library's log lines while the object lives.
class LogLines {
 public:
  LogLines() {
    platform::setLogObserver([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogLines() { platform::setLogObserver(nullptr); }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// The cycles the log says were lost: the number in each line that tells
// of a loss.
std::uint64_t cyclesLoggedLost(const std::vector<std::string>& lines) {
  std::uint64_t lost = 0;
  for (const std::string& line : lines) {
    std::size_t digits = line.find_first_of("0123456789");
    if (digits != std::string::npos && line.find("cycles") != std::string::npos)
      lost += std::stoull(line.substr(digits));
  }
  return lost;
}

// A host slower than its cycles keeps its queue's bell rung; control work
// queued meanwhile (following a default-output change) runs after the cycle
// in progress, not after every cycle waiting in the ring.
TEST(IoDelivery, QueuedWorkWaitsForOneCycleOfASlowHostNotForTheRing) {
  platform::SerialQueue queue("test.io");
  std::atomic<int> calls = 0;
  IoDelivery delivery;
  delivery.add(1, queue, [&](auto...) {
    ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  delivery.setRunning(1, true);
  auto samples = cycleSamples(0, 256, 2);
  for (int cycle = 0; cycle < 40; ++cycle) delivery.deliver(samples.data(), 256, 2);
  while (calls == 0) std::this_thread::yield();
  int callsBefore = -1;
  queue.sync([&] { callsBefore = calls; });
  EXPECT_LE(callsBefore, 2) << "of 40 waiting";
  drainQueue(queue);
  EXPECT_EQ(calls, 40);
  delivery.remove(1);
}

TEST(IoDelivery, ARemovedProcsUndeliveredCyclesAreLogged) {
  struct Case {
    const char* what;
    int cycles;
    std::uint64_t lost;
  };
  const Case cases[] = {
      {"waiting in the ring", 5, 5},
      {"waiting and dropped while the queue was held", int(CycleRing::kSlots) + 10,
       CycleRing::kSlots + 10},
  };
  for (const Case& c : cases) {
    LogLines log;
    platform::SerialQueue queue("test.io");
    auto received = std::make_shared<Received>();
    IoDelivery delivery;
    delivery.add(1, queue, recordingBlock(received, queue));
    delivery.setRunning(1, true);
    {
      QueueGate gate(queue);
      for (int cycle = 0; cycle < c.cycles; ++cycle)
        delivery.deliver(cycleSamples(cycle, 256, 2).data(), 256, 2);
      delivery.remove(1);
    }
    drainQueue(queue);
    EXPECT_TRUE(received->take().empty()) << c.what;
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{"[mivo-tap] IO proc removed; " + std::to_string(c.lost) +
                                        " cycles not delivered"}))
        << c.what;
  }
}

// Cycles delivered while another proc comes and goes now and then meet a
// change in progress: each cycle either reaches the block or is in a line.
TEST(IoDelivery, EveryCycleIsDeliveredOrLoggedAsLostWhileProcsChange) {
  LogLines log;
  platform::SerialQueue queue("test.io");
  platform::SerialQueue otherQueue("test.io.other");
  auto received = std::make_shared<Received>();
  IoDelivery delivery;
  delivery.add(1, queue, recordingBlock(received, queue));
  delivery.setRunning(1, true);
  std::atomic<bool> delivering = true;
  std::uint64_t delivered = 0;
  std::thread processing([&] {
    auto samples = cycleSamples(0, 256, 2);
    while (delivering) {
      delivery.deliver(samples.data(), 256, 2);
      ++delivered;
    }
  });
  for (int change = 0; change < 2000; ++change) {
    delivery.add(2, otherQueue, [](auto...) {});
    delivery.remove(2);
  }
  delivering = false;
  processing.join();
  delivery.remove(1);
  drainQueue(queue);
  EXPECT_EQ(received->take().size() + cyclesLoggedLost(log.take()), delivered);
}

TEST(IoDelivery, TheProcessingThreadNeverAllocates) {
  platform::SerialQueue queue("test.io");
  std::atomic<long> sum = 0;
  IoDelivery delivery;
  delivery.add(1, queue,
               [&](const AudioTimeStamp*, const AudioBufferList* input, const AudioTimeStamp*,
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
    if (cycle % 100 == 99) drainQueue(queue);  // a queue that keeps up, as the capture's does
  }
  drainQueue(queue);
  EXPECT_EQ(sum, kCycles);
  EXPECT_EQ(counted, 0);
}

}  // namespace
}  // namespace mivo::audio::pipewire
