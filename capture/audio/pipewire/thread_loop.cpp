#include "audio/pipewire/thread_loop.h"

#include <pipewire/pipewire.h>

#include <ctime>
#include <stdexcept>

namespace mivo::audio::pipewire {

ThreadLoop::ThreadLoop() {
  pw_init(nullptr, nullptr);
  loop_ = pw_thread_loop_new("mivo-pipewire", nullptr);
  if (loop_ == nullptr) throw std::runtime_error("pw_thread_loop_new failed");
  // Without the realtime module: the client configuration loads nothing
  // that needs D-Bus.
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
  if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
    if (context_ != nullptr) pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
    throw std::runtime_error("PipeWire context could not be started");
  }
}

ThreadLoop::~ThreadLoop() {
  pw_thread_loop_stop(loop_);
  pw_context_destroy(context_);
  pw_thread_loop_destroy(loop_);
}

void ThreadLoop::lock() { pw_thread_loop_lock(loop_); }
void ThreadLoop::unlock() { pw_thread_loop_unlock(loop_); }
void ThreadLoop::signal() { pw_thread_loop_signal(loop_, false); }

bool ThreadLoop::waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  timespec deadline{};
  pw_thread_loop_get_time(loop_, &deadline,
                          std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count());
  while (!done()) {
    if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) return done();
  }
  return true;
}

}  // namespace mivo::audio::pipewire
