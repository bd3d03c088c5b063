#include "platform/serial_queue.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

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

// The worker sleeps on a futex word that every submission and every ring
// advances, so that a ring needs no lock: a change made before the word
// moved is seen by the worker, which reads the word before it looks for work.
struct SerialQueue::State {
  std::mutex mutex;
  std::atomic<std::uint32_t> wakeWord{0};
  std::deque<std::function<void()>> items;
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> delayed;
  std::vector<std::shared_ptr<Bell>> bells;
  std::size_t nextBell = 0;
  bool closing = false;
  std::thread::id workerID;

  void wakeUp() {
    wakeWord.fetch_add(1);
    syscall(SYS_futex, &wakeWord, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }

  // Ends when closing and nothing is left, so queued work is never dropped.
  // Bells and items take turns: a bell whose work outlasts the time between
  // its rings (a host slower than real time) is rung again by the time its
  // run ends, and must not keep the items (control work) waiting for good.
  void run() {
    std::unique_lock lock(mutex);
    bool itemsTurn = false;
    for (;;) {
      const std::uint32_t seen = wakeWord.load();
      queueDueWork();
      std::shared_ptr<Bell> bell;
      if (!(itemsTurn && !items.empty())) bell = takeRungBell();
      if (bell) {
        lock.unlock();
        runGuarded(bell->work_);
        bell = nullptr;
        lock.lock();
        itemsTurn = true;
        continue;
      }
      if (items.empty()) {
        if (closing) return;
        lock.unlock();
        sleepUnlessWoken(seen);
        lock.lock();
        continue;
      }
      itemsTurn = false;
      auto item = std::move(items.front());
      items.pop_front();
      lock.unlock();
      runGuarded(item);
      item = nullptr;  // captured state is released outside the lock too
      lock.lock();
    }
  }

  // With the mutex held. The search starts after the bell that ran last,
  // so that one busy bell cannot keep the others waiting either.
  std::shared_ptr<Bell> takeRungBell() {
    for (std::size_t looked = 0; looked < bells.size(); ++looked) {
      nextBell = (nextBell + 1) % bells.size();
      if (bells[nextBell]->rung_.exchange(false)) return bells[nextBell];
    }
    return nullptr;
  }

  // Without the mutex: until the word moves on from seen, or the next
  // delayed work is due.
  void sleepUnlessWoken(std::uint32_t seen) {
    timespec timeout{};
    const timespec* limit = nullptr;
    {
      std::lock_guard lock(mutex);
      if (!delayed.empty()) {
        const auto wait = std::max(delayed.begin()->first - std::chrono::steady_clock::now(),
                                   std::chrono::steady_clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout.tv_sec = time_t(ns / 1000000000);
        timeout.tv_nsec = long(ns % 1000000000);
        limit = &timeout;
      }
    }
    syscall(SYS_futex, &wakeWord, FUTEX_WAIT_PRIVATE, seen, limit, nullptr, 0);
  }

  void queueDueWork() {
    const auto now = std::chrono::steady_clock::now();
    while (!delayed.empty() && delayed.begin()->first <= now) {
      items.push_back(std::move(delayed.begin()->second));
      delayed.erase(delayed.begin());
    }
  }
};

SerialQueue::Bell::Bell(std::shared_ptr<State> state, std::function<void()> work)
    : state_(std::move(state)), work_(std::move(work)) {}

void SerialQueue::Bell::ring() {
  if (!rung_.exchange(true)) state_->wakeUp();
}

void SerialQueue::Bell::cancel() {
  std::lock_guard lock(state_->mutex);
  std::erase_if(state_->bells, [this](const auto& bell) { return bell.get() == this; });
}

std::shared_ptr<SerialQueue::Bell> SerialQueue::addBell(std::function<void()> work) {
  auto bell = std::make_shared<Bell>(state_, std::move(work));
  std::lock_guard lock(state_->mutex);
  state_->bells.push_back(bell);
  return bell;
}

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
    state_->bells.clear();  // cancelled: each holds the state too
  }
  state_->wakeUp();
  if (worker_.get_id() == std::this_thread::get_id())
    worker_.detach();  // the thread owns the state too and ends after the drain
  else
    worker_.join();
}

void SerialQueue::async(std::function<void()> work) {
  std::lock_guard lock(state_->mutex);
  state_->items.push_back(std::move(work));
  state_->wakeUp();
}

void SerialQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
  std::lock_guard lock(state_->mutex);
  state_->delayed.emplace(std::chrono::steady_clock::now() + delay, std::move(work));
  state_->wakeUp();
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
