#include "audio/pipewire/io_delivery.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "audio/pipewire/cycle_ring.h"
#include "platform/system_log.h"

namespace mivo::audio::pipewire {

namespace {

std::uint64_t monotonicNanoseconds() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

}  // namespace

// One proc's block and ring, and what its queue knows of dropped cycles.
class IoDelivery::Handoff {
 public:
  explicit Handoff(IOBlock block) : block_(std::move(block)) {}

  // After the proc's removal and its last run (the bell's work holds the
  // handoff too): what never reached the block is told, as the drops of an
  // episode are, so that every cycle lost has its line.
  ~Handoff() {
    const std::uint64_t dropped = ring_.droppedCycles() - (behind_ ? episodeStart_ : droppedSeen_);
    const std::uint64_t lost = dropped + ring_.waitingCycles();
    if (lost > 0)
      platform::logLine("IO proc removed; " + std::to_string(lost) + " cycles not delivered");
  }

  // Processing thread.
  void push(const float* interleaved, std::uint32_t frames, std::uint32_t channels,
            const AudioTimeStamp& now) {
    ring_.push(interleaved, frames, channels, now);
  }

  // The proc's queue: the oldest waiting cycle; true when more wait.
  bool deliverOne() {
    noteDrops();
    return ring_.consumeCycle([this](const CycleRing::Piece& piece) { call(piece); });
  }

 private:
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

  const IOBlock block_;
  CycleRing ring_;
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
    waitForCycleInside();
    wasDelivering_ = std::ranges::any_of(delivery_.procs_, &Proc::running);
  }
  // The cycles that met the change were lost to the procs running before
  // it; counted once the last of them has left.
  ~Change() {
    delivery_.changing_.store(false);
    waitForCycleInside();
    const std::uint64_t skipped = delivery_.skipped_.exchange(0);
    if (skipped > 0 && wasDelivering_)
      platform::logLine(std::to_string(skipped) + " cycles skipped while the IO procs changed");
  }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

 private:
  void waitForCycleInside() {
    while (delivery_.delivering_.load()) std::this_thread::yield();
  }

  IoDelivery& delivery_;
  std::lock_guard<std::mutex> lock_;
  bool wasDelivering_ = false;
};

IoDelivery::~IoDelivery() {
  for (const Proc& proc : procs_) proc.bell->cancel();
}

void IoDelivery::add(std::uint32_t procId, platform::SerialQueue& queue, IOBlock block) {
  auto handoff = std::make_shared<Handoff>(std::move(block));
  // One cycle a run, the bell rung again while more wait: the queue's other
  // work (following a default-output change) gets its turn after one frame
  // callback of a host slower than real time, not after a full ring of them.
  auto self = std::make_shared<std::weak_ptr<platform::SerialQueue::Bell>>();
  auto bell = queue.addBell([handoff, self] {
    if (handoff->deliverOne())
      if (auto again = self->lock()) again->ring();
  });
  *self = bell;
  Change change(*this);
  procs_.push_back({procId, std::move(handoff), std::move(bell), false});
}

bool IoDelivery::setRunning(std::uint32_t procId, bool running) {
  Change change(*this);
  auto proc = std::ranges::find(procs_, procId, &Proc::id);
  if (proc == procs_.end()) return false;
  proc->running = running;
  return true;
}

bool IoDelivery::remove(std::uint32_t procId) {
  Proc removed;
  {
    Change change(*this);
    auto proc = std::ranges::find(procs_, procId, &Proc::id);
    if (proc == procs_.end()) return false;
    removed = std::move(*proc);
    procs_.erase(proc);
  }
  removed.bell->cancel();
  return true;
}

void IoDelivery::deliver(const float* interleaved, std::uint32_t frameCount,
                         std::uint32_t channels) {
  AudioTimeStamp now;
  now.mHostTime = monotonicNanoseconds();
  now.mSampleTime = sampleTime_;
  sampleTime_ += frameCount;
  delivering_.store(true);
  if (changing_.load()) {
    skipped_.fetch_add(1, std::memory_order_relaxed);
  } else {
    for (const Proc& proc : procs_)
      if (proc.running) {
        proc.handoff->push(interleaved, frameCount, channels, now);
        proc.bell->ring();
      }
  }
  delivering_.store(false, std::memory_order_release);
}

}  // namespace mivo::audio::pipewire
