// Hands each cycle's samples to the IO blocks registered on a capture
// stream, each on its own queue. The queue is touched only under the lock
// that remove() also takes, so once remove() has returned nothing more is
// submitted to that queue.
//
// The processing thread neither allocates nor waits in the steady state:
// each proc has a ring of cycle buffers made when it is added, and the
// processing thread only tries the lock (a cycle that meets an add, start,
// stop or removal in progress is not delivered).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/audio_hardware.h"

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
  class Ring;
  struct Proc {
    std::uint32_t id = 0;
    platform::SerialQueue* queue = nullptr;
    Ring* ring = nullptr;  // one reference held by the proc
    bool running = false;
  };

  std::mutex mutex_;
  std::vector<Proc> procs_;
  double sampleTime_ = 0;  // the processing thread's alone
};

}  // namespace mivo::audio::pipewire
