// Holds the next call of one chosen operation on the thread that makes it,
// until the test releases it. Lets a test stop a capture while its build is
// deterministically in the middle of a call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "audio/simulated/operation.h"

namespace mivo::audio::sim {

class OperationHold {
 public:
  // Arms the hold for the next call of operation (replacing an armed one).
  void arm(Operation operation);
  // Called at the start of every operation: blocks while this call is held.
  void pass(Operation operation);
  // True once a call is being held; false after the timeout.
  bool waitUntilHeld(std::chrono::milliseconds timeout);
  // Lets a held call go on, or disarms a hold no call has reached yet.
  void release();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Operation> armed_;
  bool holding_ = false;
  std::uint64_t holdsStarted_ = 0;
  std::uint64_t holdsReleased_ = 0;
};

}  // namespace mivo::audio::sim
