#include "audio/pipewire/io_delivery.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>

#include "platform/serial_queue.h"

namespace mivo::audio::pipewire {

namespace {

std::uint64_t monotonicNanoseconds() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

}  // namespace

// One proc's block and the cycle buffers handed to its queue. The processing
// thread fills the next free slot and submits it; the queue runs the block on
// it and frees the slot. Owned jointly by the proc and by every submission
// not yet run, since work already on the queue may run after remove() and
// after the stream is gone. A submission carries a bare pointer and a slot
// index, small enough for the queue's function to hold without allocating.
class IoDelivery::Ring {
 public:
  static constexpr std::uint32_t kSlots = 16;
  // 2048 stereo frames, the largest quantum PipeWire uses by default; the
  // capture asks for 256. A longer cycle, or one meeting a queue that is
  // kSlots cycles behind, is copied to the heap instead.
  static constexpr std::size_t kSlotSamples = 4096;

  // Zero-filled here, on the caller's thread, so that the processing thread
  // never faults a fresh page in.
  explicit Ring(IOBlock block) : block_(std::move(block)), samples_(kSlots * kSlotSamples) {}

  static void release(Ring* ring) {
    if (ring->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete ring;
  }

  // Processing thread.
  void submit(platform::SerialQueue& queue, const float* interleaved, std::size_t count,
              std::uint32_t channels, const AudioTimeStamp& now) {
    Slot& slot = slots_[next_];
    if (count > kSlotSamples || slot.busy.load(std::memory_order_acquire)) {
      submitCopy(queue, interleaved, count, channels, now);
      return;
    }
    std::uint32_t index = next_;
    next_ = (next_ + 1) % kSlots;
    std::copy_n(interleaved, count, samples_.data() + index * kSlotSamples);
    slot.count = count;
    slot.channels = channels;
    slot.time = now;
    slot.busy.store(true, std::memory_order_relaxed);
    references_.fetch_add(1, std::memory_order_relaxed);
    queue.async([ring = this, index] { ring->runSlot(index); });
  }

 private:
  struct Slot {
    std::atomic<bool> busy{false};  // submitted and not yet run
    std::size_t count = 0;
    std::uint32_t channels = 0;
    AudioTimeStamp time;
  };

  // Drops the submission's reference also when the block throws.
  struct Reference {
    Ring* ring;
    ~Reference() { release(ring); }
  };

  void submitCopy(platform::SerialQueue& queue, const float* interleaved, std::size_t count,
                  std::uint32_t channels, const AudioTimeStamp& now) {
    auto copy = std::make_shared<const std::vector<float>>(interleaved, interleaved + count);
    references_.fetch_add(1, std::memory_order_relaxed);
    queue.async([ring = this, copy, channels, now] {
      Reference reference{ring};
      ring->call(copy->data(), copy->size(), channels, now);
    });
  }

  void runSlot(std::uint32_t index) {
    Reference reference{this};
    Slot& slot = slots_[index];
    struct Free {
      Slot& slot;
      ~Free() { slot.busy.store(false, std::memory_order_release); }
    } free{slot};
    call(samples_.data() + index * kSlotSamples, slot.count, slot.channels, slot.time);
  }

  void call(const float* samples, std::size_t count, std::uint32_t channels, AudioTimeStamp now) {
    AudioBuffer buffer;
    buffer.mNumberChannels = channels;
    buffer.mDataByteSize = std::uint32_t(count * sizeof(float));
    buffer.mData = const_cast<float*>(samples);
    AudioBufferList input{1, &buffer};
    AudioBufferList output{};
    block_(&now, &input, &now, &output, &now);
  }

  const IOBlock block_;
  std::vector<float> samples_;  // slot i at i * kSlotSamples
  std::array<Slot, kSlots> slots_;
  std::uint32_t next_ = 0;  // the processing thread's alone
  std::atomic<int> references_{1};
};

IoDelivery::~IoDelivery() {
  for (const Proc& proc : procs_) Ring::release(proc.ring);
}

void IoDelivery::add(std::uint32_t procId, platform::SerialQueue& queue, IOBlock block) {
  auto ring = std::make_unique<Ring>(std::move(block));
  std::lock_guard lock(mutex_);
  procs_.push_back({procId, &queue, ring.release(), false});
}

bool IoDelivery::setRunning(std::uint32_t procId, bool running) {
  std::lock_guard lock(mutex_);
  auto proc = std::ranges::find(procs_, procId, &Proc::id);
  if (proc == procs_.end()) return false;
  proc->running = running;
  return true;
}

bool IoDelivery::remove(std::uint32_t procId) {
  Ring* ring = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto proc = std::ranges::find(procs_, procId, &Proc::id);
    if (proc == procs_.end()) return false;
    ring = proc->ring;
    procs_.erase(proc);
  }
  Ring::release(ring);
  return true;
}

void IoDelivery::deliver(const float* interleaved, std::uint32_t frameCount,
                         std::uint32_t channels) {
  AudioTimeStamp now;
  now.mHostTime = monotonicNanoseconds();
  now.mSampleTime = sampleTime_;
  sampleTime_ += frameCount;
  // Never waits for the control side; its changes take microseconds and
  // are rare (a proc made, started, stopped or removed).
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  for (const Proc& proc : procs_)
    if (proc.running)
      proc.ring->submit(*proc.queue, interleaved, std::size_t(frameCount) * channels, channels, now);
}

}  // namespace mivo::audio::pipewire
