// A thread that calls tick() over and over, each call due one period (what
// the previous tick returned) after the previous one, on a steady clock so
// delays never add up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace mivo::audio::sim {

class RealtimeClock {
 public:
  using Tick = std::function<std::chrono::nanoseconds()>;
  explicit RealtimeClock(Tick tick);
  // Returns after the thread has ended; a tick in progress finishes first.
  ~RealtimeClock();
  RealtimeClock(const RealtimeClock&) = delete;
  RealtimeClock& operator=(const RealtimeClock&) = delete;

 private:
  void run();

  Tick tick_;
  std::mutex mutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace mivo::audio::sim
