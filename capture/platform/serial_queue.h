// A serial work queue on a thread of its own: one item at a time, in
// submission order. Stands in for the platform's serial dispatch queues.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace mivo::platform {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Runs what is still queued, then ends the thread; work submitted with a
  // delay that is not yet due is dropped. Safe on the queue's own thread
  // (the last owner may be an item running on it): the thread is then left
  // to finish by itself instead of being joined.
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }

  void async(std::function<void()> work);
  // Queues work once delay has passed (a timer on the queue's own thread).
  void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
  // Returns after work has run, rethrowing what it threw. Called from this
  // queue's own thread, it runs work in place: waiting on itself would hang
  // forever.
  void sync(const std::function<void()>& work);
  bool isCurrent() const;

 private:
  struct State;
  std::string label_;
  std::shared_ptr<State> state_;
  std::thread worker_;
};

}  // namespace mivo::platform
