// The threads that run a multiplexer's relays. A new connection's relay starts on a thread that
// waits idle when there is one, so under load it does not wait for a thread to be created; a
// thread whose relay ended waits for the next one, up to kMaxIdle of them, and ends otherwise.
// Stop ends the idle threads and joins every thread; the pool may be used again afterwards.
//
// Its lock guards the idle count, the tasks handed over and the thread list; no task runs under
// it, and it is never held while taking another lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace vantrel {

class TRelayPool {
 public:
  static constexpr size_t kMaxIdle = 4;

  TRelayPool() = default;
  ~TRelayPool() { Stop(); }
  TRelayPool(const TRelayPool&) = delete;
  TRelayPool& operator=(const TRelayPool&) = delete;

  // Runs prmTask on an idle thread, or on a new one. Raises what creating a thread raises (the
  // task is then dropped unrun).
  void Run(std::function<void()> prmTask);
  // Ends the idle threads and joins every thread, after the tasks still running have returned
  // (their owner makes them end first).
  void Stop();
  size_t IdleCount() const;
  size_t ThreadCount() const;

 private:
  struct TWorker {
    std::thread Thd;
    bool Finished = false;
  };
  void Work(TWorker& prmSelf, std::function<void()> prmTask);
  // Takes the threads that have ended out of the list, to be joined outside the lock.
  std::list<TWorker> TakeFinished();

  mutable std::mutex m_Lock;
  std::condition_variable m_Wake;
  std::deque<std::function<void()>> m_Tasks;
  size_t m_Idle = 0;
  bool m_Stopping = false;
  std::list<TWorker> m_Workers;
};

}  // namespace vantrel
