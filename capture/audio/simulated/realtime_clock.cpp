#include "audio/simulated/realtime_clock.h"

namespace mivo::audio::sim {

RealtimeClock::RealtimeClock(Tick tick) : tick_(std::move(tick)), thread_([this] { run(); }) {}

RealtimeClock::~RealtimeClock() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  thread_.join();
}

void RealtimeClock::run() {
  auto due = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    due += tick_();
    lock.lock();
    stopSignal_.wait_until(lock, due, [&] { return stopping_; });
  }
}

}  // namespace mivo::audio::sim
