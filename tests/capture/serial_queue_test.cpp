#include "platform/serial_queue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace mivo::platform {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsItemsOneAtATimeInSubmissionOrder) {
  SerialQueue queue("test.order");
  std::vector<int> seen;
  std::atomic<int> running{0};
  bool overlapped = false;
  for (int i = 0; i < 1000; ++i)
    queue.async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      seen.push_back(i);
      running.fetch_sub(1);
    });
  queue.sync([] {});
  ASSERT_EQ(seen.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncReturnsOnlyAfterItsItemRan) {
  SerialQueue queue("test.sync");
  std::promise<void> gate;
  queue.async([f = gate.get_future().share()] { f.wait(); });
  bool ran = false;
  auto waiter = std::async(std::launch::async, [&] { queue.sync([&] { ran = true; }); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  gate.set_value();
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(ran);
}

TEST(SerialQueue, SyncFromItsOwnThreadRunsInPlace) {
  SerialQueue queue("test.reentry");
  std::promise<bool> result;
  queue.async([&] {
    bool inner = false;
    queue.sync([&] { inner = queue.isCurrent(); });
    result.set_value(inner);
  });
  auto future = result.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready) << "sync on own thread hung";
  EXPECT_TRUE(future.get());
}

TEST(SerialQueue, DestructionRunsWhatIsStillQueued) {
  std::atomic<int> ran{0};
  {
    SerialQueue queue("test.drain");
    for (int i = 0; i < 100; ++i) queue.async([&] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, DelayedWorkRunsInDueOrderAfterItsDelayAndIsDroppedWithTheQueue) {
  std::vector<int> order;
  std::atomic<bool> droppedRan{false};
  const auto submitted = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration firstAfter{};
  {
    SerialQueue queue("test.delayed");
    queue.asyncAfter(60ms, [&] { order.push_back(2); });
    queue.asyncAfter(30ms, [&] {
      firstAfter = std::chrono::steady_clock::now() - submitted;
      order.push_back(1);
    });
    queue.async([&] { order.push_back(0); });
    std::promise<void> last;
    queue.asyncAfter(90ms, [&] { last.set_value(); });
    ASSERT_EQ(last.get_future().wait_for(10s), std::future_status::ready);
    queue.asyncAfter(1h, [&] { droppedRan = true; });
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_GE(firstAfter, 30ms);
  EXPECT_FALSE(droppedRan);
}

TEST(SerialQueue, ABellWakesTheQueueRunsOnceForEarlierRingsAndNeverAfterCancel) {
  SerialQueue queue("test.bell");
  std::atomic<int> runs{0};
  auto bell = queue.addBell([&] { runs.fetch_add(1); });
  auto runsReach = [&](int count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (runs.load() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    return runs.load() == count;
  };
  bell->ring();  // nothing else is submitted: the ring alone wakes the queue
  EXPECT_TRUE(runsReach(1));

  std::promise<void> holding, open;
  queue.async([&] {
    holding.set_value();
    open.get_future().wait();
  });
  holding.get_future().wait();
  for (int ring = 0; ring < 3; ++ring) bell->ring();
  open.set_value();
  queue.sync([] {});
  EXPECT_EQ(runs.load(), 2) << "three rings during one busy stretch";

  bell->cancel();
  bell->ring();
  queue.sync([] {});
  EXPECT_EQ(runs.load(), 2) << "rang after cancel";
}

// Two bells whose work always outlasts the time between their rings, as a
// host slower than real time does: items and the other bell still get turns.
TEST(SerialQueue, BellsRungAgainDuringTheirRunKeepNeitherItemsNorOtherBellsWaiting) {
  SerialQueue queue("test.busy");
  std::shared_ptr<SerialQueue::Bell> busy, other;
  std::atomic<int> otherRuns{0};
  busy = queue.addBell([&] {
    busy->ring();
    other->ring();
    std::this_thread::sleep_for(1ms);
  });
  other = queue.addBell([&] {
    otherRuns.fetch_add(1);
    busy->ring();
  });
  busy->ring();
  std::promise<void> itemRan;
  for (int item = 0; item < 3; ++item) queue.async([] {});
  queue.async([&] { itemRan.set_value(); });
  EXPECT_EQ(itemRan.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_GT(otherRuns.load(), 0);
  busy->cancel();
  other->cancel();
  queue.sync([] {});  // a run in progress has ended: the bells outlive it
}

TEST(SerialQueue, CanBeDestroyedByAnItemRunningOnIt) {
  auto queue = std::make_shared<SerialQueue>("test.selfdestroy");
  std::promise<void> done;
  SerialQueue* raw = queue.get();
  raw->async([owned = std::move(queue), &done]() mutable {
    owned.reset();  // last owner, on the queue's own thread
    done.set_value();
  });
  EXPECT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

TEST(SerialQueue, AThrowingItemNeitherEndsTheQueueNorHangsSync) {
  SerialQueue queue("test.throw");
  queue.async([] { throw std::runtime_error("async"); });
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("sync"); }), std::runtime_error);
  bool ran = false;
  queue.sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace mivo::platform
