#include "platform/Event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
  TEvent ev(true);
  EXPECT_FALSE(ev.Wait(0));
  ev.Set();
  ev.Set();  // repeated Sets are one signal
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_TRUE(ev.Wait(10));
  EXPECT_TRUE(ev.IsSet());
  ev.Reset();
  EXPECT_FALSE(ev.IsSet());
  EXPECT_FALSE(ev.Wait(10));
  ev.Reset();  // resetting a clear event is harmless
  EXPECT_FALSE(ev.IsSet());
}

TEST(Event, AutoResetIsConsumedByOneWait) {
  TEvent ev(false, true);
  EXPECT_TRUE(ev.IsSet());
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_FALSE(ev.IsSet());
  EXPECT_FALSE(ev.Wait(10));
  for (int i = 0; i < 1000; ++i) ev.Set();
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_FALSE(ev.Wait(0));
}

TEST(Event, FdIsReadableExactlyWhileSignalled) {
  TEvent ev(false);
  pollfd p{ev.Fd(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  ev.Set();
  EXPECT_EQ(poll(&p, 1, 0), 1);
  EXPECT_TRUE(ev.TryConsume());
  EXPECT_FALSE(ev.TryConsume());
  EXPECT_EQ(poll(&p, 1, 0), 0);
}

// Every Set of an auto-reset event wakes exactly one of several waiters.
TEST(Event, EachAutoResetSignalWakesExactlyOneWaiter) {
  TEvent ev(false);
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable cv;
  int wakes = 0;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      while (!stop) {
        if (!ev.Wait(50)) continue;
        std::lock_guard<std::mutex> g(lock);
        ++wakes;
        cv.notify_all();
      }
    });
  constexpr int kSignals = 50;
  for (int i = 1; i <= kSignals; ++i) {
    ev.Set();
    std::unique_lock<std::mutex> g(lock);
    ASSERT_TRUE(cv.wait_for(g, std::chrono::seconds(10), [&] { return wakes >= i; }));
  }
  stop = true;
  for (auto& t : waiters) t.join();
  EXPECT_EQ(wakes, kSignals);
  EXPECT_FALSE(ev.IsSet());
}

TEST(Event, ManualResetWakesAllWaiters) {
  TEvent ev(true);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (ev.Wait(10000)) ++woken;
    });
  ev.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken, 4);
}

TEST(Event, WaitForAnyGivesFirstSignalledIndex) {
  TEvent a(false), b(true), c(false);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 10), -1);
  c.Set();
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 1000), 2);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), -1);  // c was auto reset
  a.Set();
  b.Set();
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 0);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);  // b is manual reset and stays
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);
  EXPECT_EQ(WaitForAny({}, 0), -1);
  EXPECT_EQ(WaitForAny({}, -1), -1);  // nothing to wait for: not a hang
}

TEST(Event, SignalFromAnotherThreadEndsUnlimitedWait) {
  TEvent ev(false);
  std::thread t([&] { ev.Set(); });
  EXPECT_TRUE(ev.Wait(-1));
  t.join();
}

TEST(Event, MsLeft) {
  auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(MsLeft(now - std::chrono::seconds(1)), 0);
  int left = MsLeft(now + std::chrono::seconds(100));
  EXPECT_GT(left, 90000);
  EXPECT_LE(left, 100000);
}

}  // namespace
}  // namespace vantrel
