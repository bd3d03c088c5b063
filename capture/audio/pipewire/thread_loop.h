// The PipeWire client machinery of the process: one loop thread and one
// context, made once and kept for the life of the process, so that losing
// the server and connecting again adds no thread.
#pragma once

#include <chrono>
#include <functional>

struct pw_thread_loop;
struct pw_context;

namespace mivo::audio::pipewire {

class ThreadLoop {
 public:
  ThreadLoop();
  ~ThreadLoop();
  ThreadLoop(const ThreadLoop&) = delete;
  ThreadLoop& operator=(const ThreadLoop&) = delete;

  pw_context* context() const { return context_; }

  void lock();
  void unlock();
  // Wakes every waitFor() so that it looks at its condition again. Called
  // on the loop thread by event handlers that changed something.
  void signal();
  // With the lock held: waits (the lock released meanwhile) until done()
  // holds or the timeout passed; returns done()'s last answer.
  bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done);

 private:
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
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
