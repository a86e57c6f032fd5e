#include "platform/Window.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "diag/Exceptions.h"

namespace vantrel {
namespace {

constexpr uint32_t WM_TEST = WM_USER + 1;

// Records what the window thread handled, and on which thread.
struct TRecorder {
  std::vector<std::pair<uintptr_t, intptr_t>> Handled;
  std::vector<std::thread::id> Threads;
  TMsgHandler Handler() {
    return [this](uint32_t, uintptr_t w, intptr_t l) -> intptr_t {
      Handled.emplace_back(w, l);
      Threads.push_back(std::this_thread::get_id());
      return static_cast<intptr_t>(w) * 10 + l;
    };
  }
};

// Bounded wait until the window has something pending (its Fd turns readable).
bool WaitPending(TWindow& prmWnd, int prmMs = 10000) {
  pollfd p{prmWnd.Fd(), POLLIN, 0};
  return poll(&p, 1, prmMs) == 1;
}

TEST(Window, PostsFromThreadsKeepEachSendersOrder) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(PostMessage(&wnd, WM_TEST, t, i));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wnd.ProcessMessages(), kThreads * kEach);
  EXPECT_EQ(wnd.ProcessMessages(), 0);
  std::vector<intptr_t> next(kThreads, 0);
  for (auto [t, i] : rec.Handled) EXPECT_EQ(i, next[t]++) << "thread " << t;
  for (auto id : rec.Threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Window, SendFromWorkerBlocksUntilHandled) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  std::atomic<bool> returned{false};
  intptr_t result = -1;
  std::thread worker([&] {
    result = SendMessage(&wnd, WM_TEST, 4, 2);
    returned = true;
  });
  ASSERT_TRUE(WaitPending(wnd));
  EXPECT_FALSE(returned);
  EXPECT_TRUE(rec.Handled.empty());
  EXPECT_EQ(wnd.ProcessMessages(), 1);
  worker.join();
  EXPECT_EQ(result, 42);
  ASSERT_EQ(rec.Threads.size(), 1u);
  EXPECT_EQ(rec.Threads[0], std::this_thread::get_id());
}

TEST(Window, SendOnWindowThreadRunsInline) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  EXPECT_TRUE(wnd.IsWindowThread());
  EXPECT_EQ(wnd.Send(WM_TEST, 1, 5), 15);
  EXPECT_EQ(rec.Handled.size(), 1u);
  EXPECT_EQ(wnd.ProcessMessages(), 0);
  // A handler that sends to its own window does not deadlock either.
  TWindow* self = nullptr;
  TWindow nested([&](uint32_t m, uintptr_t w, intptr_t) -> intptr_t {
    return w == 0 ? 1 : 1 + self->Send(m, w - 1, 0);
  });
  self = &nested;
  EXPECT_EQ(nested.Send(WM_TEST, 3, 0), 4);
}

TEST(Window, DestroyedWindowRefusesAtOnceAndReleasesBlockedSender) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  intptr_t result = -1;
  std::thread worker([&] { result = wnd.Send(WM_TEST, 9, 9); });
  ASSERT_TRUE(WaitPending(wnd));
  wnd.Destroy();
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(wnd.IsDestroying());
  EXPECT_FALSE(wnd.Post(WM_TEST, 1, 1));
  EXPECT_EQ(wnd.Send(WM_TEST, 1, 1), 0);  // window thread
  std::thread late([&] { result = wnd.Send(WM_TEST, 1, 1); });
  late.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(wnd.ProcessMessages(), 0);
  EXPECT_FALSE(wnd.WaitMessage(0));
  EXPECT_TRUE(rec.Handled.empty());
  EXPECT_FALSE(PostMessage(nullptr, WM_TEST));
  EXPECT_EQ(SendMessage(nullptr, WM_TEST), 0);
}

// The owner deletes the window while a worker is blocked in Send (the loss notice arriving during
// destruction): the worker must come back with 0 without touching the freed window.
TEST(Window, DeletingWindowReleasesBlockedSenders) {
  for (int round = 0; round < 100; ++round) {
    auto wnd =
        std::make_unique<TWindow>([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 1; });
    intptr_t result = -1;
    std::thread worker([&, w = wnd.get()] { result = w->Send(WM_TEST); });
    ASSERT_TRUE(WaitPending(*wnd));  // the sender is queued and blocked
    wnd.reset();
    worker.join();
    EXPECT_EQ(result, 0);
  }
}

// A handler that raises does not leave its sender waiting for ever; the window thread sees it.
TEST(Window, RaisingHandlerReleasesItsSender) {
  TWindow wnd([](uint32_t, uintptr_t w, intptr_t) -> intptr_t {
    if (w == 1) throw EBaseException("handler failed");
    return 5;
  });
  intptr_t result = -1;
  std::thread worker([&] { result = wnd.Send(WM_TEST, 1, 0); });
  ASSERT_TRUE(WaitPending(wnd));
  try {
    wnd.ProcessMessages();
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "handler failed");
  }
  worker.join();
  EXPECT_EQ(result, 0);
  TEvent answered(true);
  std::thread next([&] {
    result = wnd.Send(WM_TEST, 2, 0);
    answered.Set();
  });
  EXPECT_TRUE(wnd.WaitHandlingMessages(answered, 10000));
  next.join();
  EXPECT_EQ(result, 5);
}

// The window thread waits for a worker that first sends to the window: the wait handles the
// message, so neither blocks the other.
TEST(Window, WaitHandlingMessagesServesTheAwaitedWorker) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  TEvent done(true);
  intptr_t result = -1;
  std::thread worker([&] {
    wnd.Post(WM_TEST, 1, 0);
    result = wnd.Send(WM_TEST, 2, 3);
    done.Set();
  });
  EXPECT_TRUE(wnd.WaitHandlingMessages(done, 10000));
  worker.join();
  EXPECT_EQ(result, 23);
  ASSERT_EQ(rec.Handled.size(), 2u);
  EXPECT_EQ(rec.Handled[0].first, 1u);  // the earlier post is handled first
  for (auto id : rec.Threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Window, WaitHandlingMessagesTimesOutAndEndsOnDestroy) {
  TWindow wnd([](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
  TEvent never(true);
  EXPECT_FALSE(wnd.WaitHandlingMessages(never, 20));
  TEvent set(false, true);
  EXPECT_TRUE(wnd.WaitHandlingMessages(set, 0));
  wnd.Destroy();
  EXPECT_FALSE(wnd.WaitHandlingMessages(never, 20));
  set.Set();
  EXPECT_TRUE(wnd.WaitHandlingMessages(set, 1000));
}

TEST(Window, WaitMessageHandlesWhatIsPending) {
  TRecorder rec;
  TWindow wnd(rec.Handler());
  EXPECT_FALSE(wnd.WaitMessage(10));
  std::thread poster([&] { wnd.Post(WM_TEST, 7, 0); });
  EXPECT_TRUE(wnd.WaitMessage(10000));
  poster.join();
  EXPECT_EQ(rec.Handled.size(), 1u);
}

TEST(Window, BindToCurrentThreadMovesOwnership) {
  TRecorder rec;
  std::unique_ptr<TWindow> wnd;
  std::thread creator([&] { wnd = std::make_unique<TWindow>(rec.Handler()); });
  creator.join();
  EXPECT_FALSE(wnd->IsWindowThread());
  wnd->BindToCurrentThread();
  EXPECT_TRUE(wnd->IsWindowThread());
  EXPECT_EQ(wnd->Send(WM_TEST, 0, 1), 1);  // inline, no deadlock
}

}  // namespace
}  // namespace vantrel
