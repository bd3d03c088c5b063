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

pw_loop* ThreadLoop::loop() const { return pw_thread_loop_get_loop(loop_); }

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

LoopTimer::LoopTimer(ThreadLoop& loop, std::function<void()> onTick)
    : loop_(loop.loop()), onTick_(std::move(onTick)) {
  source_ = pw_loop_add_timer(loop_, &LoopTimer::onExpired, this);
  if (source_ == nullptr) throw std::runtime_error("pw_loop_add_timer failed");
}

LoopTimer::~LoopTimer() { pw_loop_destroy_source(loop_, source_); }

void LoopTimer::start(std::chrono::milliseconds interval) {
  timespec period{};
  period.tv_sec = interval.count() / 1000;
  period.tv_nsec = long(interval.count() % 1000) * 1000000L;
  pw_loop_update_timer(loop_, source_, &period, &period, false);
  running_ = true;
}

void LoopTimer::stop() {
  timespec never{};  // a zero time disarms
  pw_loop_update_timer(loop_, source_, &never, &never, false);
  running_ = false;
}

void LoopTimer::onExpired(void* data, std::uint64_t) {
  auto* self = static_cast<LoopTimer*>(data);
  if (self->running_) self->onTick_();
}

}  // namespace mivo::audio::pipewire
