// The PipeWire client machinery of the process: one loop thread and one
// context, made once and kept for the life of the process, so that losing
// the server and connecting again adds no thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/serial_queue.h"

struct pw_thread_loop;
struct pw_context;
struct pw_loop;
struct spa_source;

namespace mivo::audio::pipewire {

class ThreadLoop {
 public:
  ThreadLoop();
  ~ThreadLoop();
  ThreadLoop(const ThreadLoop&) = delete;
  ThreadLoop& operator=(const ThreadLoop&) = delete;

  pw_context* context() const { return context_; }
  pw_loop* loop() const;

  void lock();
  void unlock();
  // Wakes every waitFor() so that it looks at its condition again. Called
  // on the loop thread by event handlers that changed something.
  void signal();
  // With the lock held: waits (the lock released meanwhile) until done()
  // holds, the timeout passed or waits are abandoned; returns done()'s
  // last answer.
  bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done);
  // Counted per queue: while more calls abandoned than resumed for queue,
  // every waitFor made on its thread, also one waiting now, returns at
  // once. Any thread but the loop's.
  void abandonWaits(const platform::SerialQueue& queue, bool abandon);

 private:
  // With the lock held.
  bool isAbandonedHere() const;

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  // One entry per abandonWaits(queue, true) not yet resumed; under the lock.
  std::vector<const platform::SerialQueue*> abandoned_;
};

// A timer whose expiries run on the loop thread, with the loop lock held.
// Made, armed, disarmed and destroyed with the lock held (or on the loop
// thread). A timer source is one descriptor, made once.
class LoopTimer {
 public:
  LoopTimer(ThreadLoop& loop, std::function<void()> onExpiry);
  ~LoopTimer();
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  // Expires once after delay, then every period (none when period is 0).
  // Arming again replaces the earlier setting.
  void arm(std::chrono::milliseconds delay,
           std::chrono::milliseconds period = std::chrono::milliseconds(0));
  void disarm();
  bool isArmed() const { return armed_; }

 private:
  static void onExpired(void* data, std::uint64_t expirations);

  pw_loop* loop_;
  spa_source* source_ = nullptr;
  std::function<void()> onExpiry_;
  bool armed_ = false;
  bool periodic_ = false;
};

// Holds the loop lock for a scope.
class LoopLock {
 public:
  explicit LoopLock(ThreadLoop& loop) : loop_(loop) { loop_.lock(); }
  ~LoopLock() { loop_.unlock(); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  ThreadLoop& loop_;
};

}  // namespace mivo::audio::pipewire
