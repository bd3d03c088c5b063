#include "audio/simulated/operation_hold.h"

namespace mivo::audio::sim {

void OperationHold::arm(Operation operation) {
  std::lock_guard lock(mutex_);
  armed_ = operation;
}

void OperationHold::pass(Operation operation) {
  std::unique_lock lock(mutex_);
  if (armed_ != operation) return;
  armed_.reset();
  holding_ = true;
  const auto ticket = ++holdsStarted_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return holdsReleased_ >= ticket; });
}

bool OperationHold::waitUntilHeld(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return holding_; });
}

void OperationHold::release() {
  std::lock_guard lock(mutex_);
  armed_.reset();
  if (!holding_) return;
  holding_ = false;
  holdsReleased_ = holdsStarted_;
  changed_.notify_all();
}

}  // namespace mivo::audio::sim
