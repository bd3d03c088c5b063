#include "platform/serial_queue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace mivo::platform {

namespace {
// An item that throws (only memory exhaustion can make ours throw) must not
// end the process or the queue: the item is abandoned, the next one runs.
void runGuarded(const std::function<void()>& item) {
  try {
    item();
  } catch (...) {
  }
}

void nameCurrentThread(const std::string& label) {
  // Linux limits thread names to 15 bytes.
  pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}
}  // namespace

struct SerialQueue::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> items;
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> delayed;
  bool closing = false;
  std::thread::id workerID;

  // Ends when closing and nothing is left, so queued work is never dropped.
  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      queueDueWork();
      if (items.empty()) {
        if (closing) return;
        if (delayed.empty())
          wake.wait(lock);
        else
          wake.wait_until(lock, delayed.begin()->first);
        continue;
      }
      auto item = std::move(items.front());
      items.pop_front();
      lock.unlock();
      runGuarded(item);
      item = nullptr;  // captured state is released outside the lock too
      lock.lock();
    }
  }

  void queueDueWork() {
    const auto now = std::chrono::steady_clock::now();
    while (!delayed.empty() && delayed.begin()->first <= now) {
      items.push_back(std::move(delayed.begin()->second));
      delayed.erase(delayed.begin());
    }
  }
};


SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  std::thread worker([state = state_, name = label_] {
    nameCurrentThread(name);
    state->run();
  });
  std::lock_guard lock(state_->mutex);
  state_->workerID = worker.get_id();
  worker_ = std::move(worker);
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->wake.notify_one();
  }
  if (worker_.get_id() == std::this_thread::get_id())
    worker_.detach();  // the thread owns the state too and ends after the drain
  else
    worker_.join();
}

void SerialQueue::async(std::function<void()> work) {
  std::lock_guard lock(state_->mutex);
  state_->items.push_back(std::move(work));
  state_->wake.notify_one();
}

void SerialQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
  std::lock_guard lock(state_->mutex);
  state_->delayed.emplace(std::chrono::steady_clock::now() + delay, std::move(work));
  state_->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
  if (isCurrent()) {
    work();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneSignal;
  bool done = false;
  std::exception_ptr failure;
  async([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();  // rethrown on the waiting thread
    }
    std::lock_guard lock(doneMutex);
    done = true;
    doneSignal.notify_one();
  });
  std::unique_lock lock(doneMutex);
  doneSignal.wait(lock, [&] { return done; });
  if (failure) std::rethrow_exception(failure);
}

bool SerialQueue::isCurrent() const {
  std::lock_guard lock(state_->mutex);
  return std::this_thread::get_id() == state_->workerID;
}

}  // namespace mivo::platform
