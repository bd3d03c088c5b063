// Hands each cycle's samples to the IO blocks registered on a capture
// stream, each on its own queue.
//
// The processing thread neither allocates, locks nor waits: it copies the
// cycle into each running proc's preallocated ring (CycleRing) and rings the
// proc's queue's bell, which delivers the ring's cycles on the queue, one a
// run, so that the queue's other work waits for one cycle at most. A host
// slower than real time loses whole cycles, counted and logged once per
// episode; memory stays bounded and the graph never waits for the host.
//
// Changes of the procs (add, start, stop, removal) are rare and come from
// the control side; a cycle that meets one in progress is not delivered,
// and is counted and logged by the change. A removed proc's cycles that
// never reached its block are logged when its last run has ended.
// Once remove() has returned no run of that proc starts; one running
// finishes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio_hardware.h"
#include "platform/serial_queue.h"

namespace mivo::audio::pipewire {

class IoDelivery {
 public:
  IoDelivery() = default;
  ~IoDelivery();
  IoDelivery(const IoDelivery&) = delete;
  IoDelivery& operator=(const IoDelivery&) = delete;

  void add(std::uint32_t procId, platform::SerialQueue& queue, IOBlock block);
  // False when there is no such proc.
  bool setRunning(std::uint32_t procId, bool running);
  bool remove(std::uint32_t procId);

  // One cycle: frameCount frames of interleaved 32-bit float samples. Called
  // on the stream's processing thread; copies, so the caller may reuse data.
  void deliver(const float* interleaved, std::uint32_t frameCount, std::uint32_t channels);

 private:
  class Handoff;
  struct Proc {
    std::uint32_t id = 0;
    // Shared with the bell's work, which may be running when the proc goes.
    std::shared_ptr<Handoff> handoff;
    std::shared_ptr<platform::SerialQueue::Bell> bell;
    bool running = false;
  };
  // Holds the control side's lock and keeps the processing thread out of
  // procs_ for a scope.
  class Change;

  std::mutex mutex_;  // the control side's
  std::vector<Proc> procs_;
  // A Dekker pair: the processing thread reads procs_ only while it has
  // announced itself in delivering_ and no change is announced in changing_.
  std::atomic<bool> delivering_{false};
  std::atomic<bool> changing_{false};
  // Cycles that met a change in progress; counted and cleared by the change.
  std::atomic<std::uint64_t> skipped_{0};
  double sampleTime_ = 0;  // the processing thread's alone
};

}  // namespace mivo::audio::pipewire
