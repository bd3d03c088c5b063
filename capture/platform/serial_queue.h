// A serial work queue on a thread of its own: one item at a time, in
// submission order. Stands in for the platform's serial dispatch queues.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace mivo::platform {

class SerialQueue {
  struct State;

 public:
  // A doorbell for a thread that must neither lock nor allocate (a realtime
  // audio thread): ring() wakes the queue, which then runs the bell's work,
  // once for all the rings before that run began. Rings during a run bring
  // another run. After cancel() has returned the work is not started again
  // (a run in progress finishes); cancel() is safe after the queue is gone.
  class Bell {
   public:
    Bell(std::shared_ptr<State> state, std::function<void()> work);
    // Touches two atomics and makes at most one wake-up system call.
    void ring();
    void cancel();

   private:
    friend struct State;
    std::shared_ptr<State> state_;
    const std::function<void()> work_;
    std::atomic<bool> rung_{false};
  };

  explicit SerialQueue(std::string label);
  // Runs what is still queued, then ends the thread; work submitted with a
  // delay that is not yet due is dropped, and bells are cancelled. Safe on the queue's own thread
  // (the last owner may be an item running on it): the thread is then left
  // to finish by itself instead of being joined.
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }

  void async(std::function<void()> work);
  // Queues work once delay has passed (a timer on the queue's own thread).
  void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
  std::shared_ptr<Bell> addBell(std::function<void()> work);
  // Returns after work has run, rethrowing what it threw. Called from this
  // queue's own thread, it runs work in place: waiting on itself would hang
  // forever.
  void sync(const std::function<void()>& work);
  bool isCurrent() const;

 private:
  std::string label_;
  std::shared_ptr<State> state_;
  std::thread worker_;
};

}  // namespace mivo::platform
