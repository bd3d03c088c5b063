#include "audio/pipewire/io_delivery.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "audio/pipewire/cycle_ring.h"
#include "platform/serial_queue.h"
#include "platform/system_log.h"

namespace mivo::audio::pipewire {

namespace {

std::uint64_t monotonicNanoseconds() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

}  // namespace

// One proc's block, queue and ring. Owned jointly by the proc and by every
// drain posted and not yet run, since work already on the queue may run
// after remove() and after the stream is gone.
class IoDelivery::Handoff {
 public:
  Handoff(platform::SerialQueue& queue, IOBlock block) : queue_(queue), block_(std::move(block)) {}

  static void release(Handoff* handoff) {
    if (handoff->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete handoff;
  }

  // Processing thread: true when the loop thread must be woken.
  bool push(const float* interleaved, std::uint32_t frames, std::uint32_t channels,
            const AudioTimeStamp& now) {
    ring_.push(interleaved, frames, channels, now);
    return !drainWanted_.exchange(true, std::memory_order_acq_rel);
  }

  // Loop thread.
  void postDrainIfWanted() {
    if (!drainWanted_.load(std::memory_order_acquire)) return;
    references_.fetch_add(1, std::memory_order_relaxed);
    queue_.async([handoff = this] {
      struct Reference {
        Handoff* handoff;
        ~Reference() { release(handoff); }
      } reference{handoff};
      handoff->drain();
    });
  }

 private:
  // The proc's queue.
  void drain() {
    // Taken before reading the ring: a cycle pushed after this asks for
    // another drain, and one pushed before it is read here.
    drainWanted_.exchange(false, std::memory_order_acq_rel);
    noteDrops();
    ring_.consume([this](const CycleRing::Piece& piece) { call(piece); });
  }

  // One line when the host starts losing cycles and one when it has caught
  // up, not one per cycle.
  void noteDrops() {
    const std::uint64_t dropped = ring_.droppedCycles();
    if (dropped != droppedSeen_ && !behind_) {
      behind_ = true;
      episodeStart_ = droppedSeen_;
      platform::logLine("host too slow for its cycles: dropping whole cycles",
                        platform::LogPriority::warning);
    } else if (dropped == droppedSeen_ && behind_) {
      behind_ = false;
      platform::logLine("host caught up after " + std::to_string(dropped - episodeStart_) +
                        " dropped cycles");
    }
    droppedSeen_ = dropped;
  }

  void call(const CycleRing::Piece& piece) {
    AudioBuffer buffer;
    buffer.mNumberChannels = piece.channels;
    buffer.mDataByteSize = std::uint32_t(piece.count * sizeof(float));
    buffer.mData = const_cast<float*>(piece.samples);
    AudioBufferList input{1, &buffer};
    AudioBufferList output{};
    AudioTimeStamp time = piece.time;
    block_(&time, &input, &time, &output, &time);
  }

  platform::SerialQueue& queue_;
  const IOBlock block_;
  CycleRing ring_;
  std::atomic<bool> drainWanted_{false};
  std::atomic<int> references_{1};
  // The proc's queue alone.
  std::uint64_t droppedSeen_ = 0;
  std::uint64_t episodeStart_ = 0;
  bool behind_ = false;
};

class IoDelivery::Change {
 public:
  explicit Change(IoDelivery& delivery) : delivery_(delivery), lock_(delivery.mutex_) {
    delivery_.changing_.store(true);
    // A cycle already inside takes microseconds; one starting now sees the flag.
    while (delivery_.delivering_.load()) std::this_thread::yield();
  }
  ~Change() { delivery_.changing_.store(false); }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

 private:
  IoDelivery& delivery_;
  std::lock_guard<std::mutex> lock_;
};

IoDelivery::IoDelivery(ThreadLoop& loop) : loop_(loop) {
  LoopLock lock(loop_);
  wake_ = std::make_unique<LoopEvent>(loop_, [this] { postDrains(); });
}

IoDelivery::~IoDelivery() {
  {
    LoopLock lock(loop_);
    wake_.reset();
  }
  for (const Proc& proc : procs_) Handoff::release(proc.handoff);
}

void IoDelivery::add(std::uint32_t procId, platform::SerialQueue& queue, IOBlock block) {
  auto handoff = std::make_unique<Handoff>(queue, std::move(block));
  Change change(*this);
  procs_.push_back({procId, handoff.release(), false});
}

bool IoDelivery::setRunning(std::uint32_t procId, bool running) {
  Change change(*this);
  auto proc = std::ranges::find(procs_, procId, &Proc::id);
  if (proc == procs_.end()) return false;
  proc->running = running;
  return true;
}

bool IoDelivery::remove(std::uint32_t procId) {
  Handoff* handoff = nullptr;
  {
    Change change(*this);
    auto proc = std::ranges::find(procs_, procId, &Proc::id);
    if (proc == procs_.end()) return false;
    handoff = proc->handoff;
    procs_.erase(proc);
  }
  Handoff::release(handoff);
  return true;
}

void IoDelivery::postDrains() {
  std::lock_guard lock(mutex_);
  for (const Proc& proc : procs_) proc.handoff->postDrainIfWanted();
}

void IoDelivery::deliver(const float* interleaved, std::uint32_t frameCount,
                         std::uint32_t channels) {
  AudioTimeStamp now;
  now.mHostTime = monotonicNanoseconds();
  now.mSampleTime = sampleTime_;
  sampleTime_ += frameCount;
  delivering_.store(true);
  bool wake = false;
  if (!changing_.load())
    for (const Proc& proc : procs_)
      if (proc.running) wake = proc.handoff->push(interleaved, frameCount, channels, now) || wake;
  delivering_.store(false, std::memory_order_release);
  if (wake) wake_->signal();
}

}  // namespace mivo::audio::pipewire
