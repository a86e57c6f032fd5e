#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "tunnel/RelayPool.h"

namespace vantrel {
namespace {

// Waits until prmCheck holds, up to 10 s.
template <typename TCheck>
bool Eventually(TCheck prmCheck) {
  for (int i = 0; i < 1000 && !prmCheck(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return prmCheck();
}

TEST(RelayPool, ReusesIdleThreadsKeepsAFewAndJoinsThemOnStop) {
  TRelayPool pool;
  auto runOn = [&pool] {
    std::promise<std::thread::id> where;
    auto seen = where.get_future();
    pool.Run([&where] { where.set_value(std::this_thread::get_id()); });
    return seen.get();
  };
  // One relay after another: the second runs on the thread the first left idle.
  const std::thread::id first = runOn();
  ASSERT_TRUE(Eventually([&] { return pool.IdleCount() == 1; }));
  EXPECT_EQ(runOn(), first);
  ASSERT_TRUE(Eventually([&] { return pool.IdleCount() == 1; }));
  EXPECT_EQ(pool.ThreadCount(), 1u);

  // More relays at once than idle threads are kept: each still runs at once, on a thread of its
  // own, and only kMaxIdle threads stay once they end.
  const size_t busy = TRelayPool::kMaxIdle + 3;
  TEvent release(true);
  std::atomic<size_t> running{0};
  std::mutex idsLock;
  std::set<std::thread::id> ids;
  for (size_t i = 0; i < busy; ++i)
    pool.Run([&] {
      {
        std::lock_guard g(idsLock);
        ids.insert(std::this_thread::get_id());
      }
      ++running;
      release.Wait(10000);
    });
  ASSERT_TRUE(Eventually([&] { return running == busy; }));
  EXPECT_EQ(ids.size(), busy);
  release.Set();
  ASSERT_TRUE(Eventually([&] { return pool.IdleCount() == TRelayPool::kMaxIdle; }));

  // Stop ends the idle threads; the pool starts afresh afterwards.
  pool.Stop();
  EXPECT_EQ(pool.ThreadCount(), 0u);
  EXPECT_EQ(pool.IdleCount(), 0u);
  runOn();
  ASSERT_TRUE(Eventually([&] { return pool.IdleCount() == 1; }));
}

}  // namespace
}  // namespace vantrel
