#include "audio/pipewire/thread_loop.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include <pipewire/pipewire.h>

namespace mivo::audio::pipewire {

ThreadLoop::ThreadLoop() {
  pw_init(nullptr, nullptr);
  loop_ = pw_thread_loop_new("mivo-pipewire", nullptr);
  if (loop_ == nullptr) throw std::runtime_error("pw_thread_loop_new failed");
  // The realtime configuration: the thread that runs the capture's cycles
  // asks for realtime scheduling, as the server's own threads do, so that a
  // busy machine delays it no more than it delays the server.
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                            pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
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
    if (isAbandonedHere() || pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) return done();
  }
  return true;
}

bool ThreadLoop::isAbandonedHere() const {
  return std::ranges::any_of(abandoned_,
                             [](const platform::SerialQueue* queue) { return queue->isCurrent(); });
}

void ThreadLoop::abandonWaits(const platform::SerialQueue& queue, bool abandon) {
  LoopLock lock(*this);
  if (abandon) {
    abandoned_.push_back(&queue);
  } else if (auto entry = std::ranges::find(abandoned_, &queue); entry != abandoned_.end()) {
    abandoned_.erase(entry);
  }
  signal();
}

namespace {

timespec toTimespec(std::chrono::milliseconds time) {
  timespec value{};
  value.tv_sec = time.count() / 1000;
  value.tv_nsec = long(time.count() % 1000) * 1000000L;
  return value;
}

}  // namespace

LoopTimer::LoopTimer(ThreadLoop& loop, std::function<void()> onExpiry)
    : loop_(loop.loop()), onExpiry_(std::move(onExpiry)) {
  source_ = pw_loop_add_timer(loop_, &LoopTimer::onExpired, this);
  if (source_ == nullptr) throw std::runtime_error("pw_loop_add_timer failed");
}

LoopTimer::~LoopTimer() { pw_loop_destroy_source(loop_, source_); }

void LoopTimer::arm(std::chrono::milliseconds delay, std::chrono::milliseconds period) {
  // A zero first expiry would disarm: the shortest delay is 1 ms.
  timespec value = toTimespec(std::max(delay, std::chrono::milliseconds(1)));
  timespec interval = toTimespec(period);
  pw_loop_update_timer(loop_, source_, &value, &interval, false);
  armed_ = true;
  periodic_ = period.count() > 0;
}

void LoopTimer::disarm() {
  timespec never{};  // a zero time disarms
  pw_loop_update_timer(loop_, source_, &never, &never, false);
  armed_ = false;
}

void LoopTimer::onExpired(void* data, std::uint64_t) {
  auto* self = static_cast<LoopTimer*>(data);
  if (!self->armed_) return;
  if (!self->periodic_) self->armed_ = false;
  self->onExpiry_();
}

}  // namespace mivo::audio::pipewire
