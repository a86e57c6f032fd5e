#include "tunnel/RelayPool.h"

namespace vantrel {

void TRelayPool::Run(std::function<void()> prmTask) {
  std::list<TWorker> finished;
  {
    std::lock_guard g(m_Lock);
    finished = TakeFinished();
    if (m_Idle > m_Tasks.size()) {
      m_Tasks.push_back(std::move(prmTask));
      m_Wake.notify_one();
    } else {
      TWorker& w = m_Workers.emplace_back();
      try {
        w.Thd = std::thread(
            [this, &w, task = std::move(prmTask)]() mutable { Work(w, std::move(task)); });
      } catch (...) {
        m_Workers.pop_back();
        throw;
      }
    }
  }
  for (TWorker& w : finished) w.Thd.join();
}

void TRelayPool::Work(TWorker& prmSelf, std::function<void()> prmTask) {
  for (;;) {
    try {
      prmTask();
    } catch (...) {
      // A relay catches everything itself; this thread is kept sound all the same.
    }
    // Whatever the task held goes before the thread waits for the next one.
    prmTask = nullptr;
    std::unique_lock g(m_Lock);
    if (!m_Stopping && m_Idle < kMaxIdle) {
      ++m_Idle;
      m_Wake.wait(g, [this] { return m_Stopping || !m_Tasks.empty(); });
      --m_Idle;
      // A task handed over before the stop still runs: its owner waits for it.
      if (!m_Tasks.empty()) {
        prmTask = std::move(m_Tasks.front());
        m_Tasks.pop_front();
        continue;
      }
    }
    prmSelf.Finished = true;
    return;
  }
}

std::list<TRelayPool::TWorker> TRelayPool::TakeFinished() {
  std::list<TWorker> finished;
  for (auto it = m_Workers.begin(); it != m_Workers.end();) {
    auto next = std::next(it);
    if (it->Finished) finished.splice(finished.end(), m_Workers, it);
    it = next;
  }
  return finished;
}

void TRelayPool::Stop() {
  std::list<TWorker> all;
  {
    std::lock_guard g(m_Lock);
    m_Stopping = true;
    all.swap(m_Workers);
  }
  m_Wake.notify_all();
  for (TWorker& w : all) w.Thd.join();
  std::lock_guard g(m_Lock);
  m_Stopping = false;
}

size_t TRelayPool::IdleCount() const {
  std::lock_guard g(m_Lock);
  return m_Idle;
}

size_t TRelayPool::ThreadCount() const {
  std::lock_guard g(m_Lock);
  return m_Workers.size();
}

}  // namespace vantrel
