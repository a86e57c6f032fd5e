#include "platform/Window.h"

#include <poll.h>

#include <cerrno>
#include <condition_variable>

namespace vantrel {

// A sent message is shared by its sender and the queue. The sender waits on the record's own lock,
// never on the window's: once released it touches nothing of the window, which its owner may
// already have deleted (a worker's notice arriving while the window is being destroyed).
struct TWindow::TMsg {
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
  bool Sent;  // a sender waits for Result
  std::mutex Lock;
  std::condition_variable Cv;
  bool Done = false;       // handled; Result is valid
  bool Cancelled = false;  // the window went away before handling it
  intptr_t Result = 0;

  void Finish(bool prmDone, intptr_t prmResult) {
    std::lock_guard<std::mutex> g(Lock);
    Done = prmDone;
    Cancelled = !prmDone;
    Result = prmResult;
    Cv.notify_all();
  }
};

TWindow::TWindow(TMsgHandler prmHandler)
    : m_Handler(std::move(prmHandler)), m_Owner(std::this_thread::get_id()) {}

TWindow::~TWindow() {
  Destroy();
  // Posted records that were never handled are dropped; their senders are already released.
}

std::shared_ptr<TWindow::TMsg> TWindow::Enqueue(uint32_t prmMsg, uintptr_t prmWParam,
                                                intptr_t prmLParam, bool prmSent) {
  auto m = std::make_shared<TMsg>();
  m->Msg = prmMsg;
  m->WParam = prmWParam;
  m->LParam = prmLParam;
  m->Sent = prmSent;
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Destroying) return nullptr;
  m_Queue.push_back(m);
  m_Pending.Set();
  return m;
}

bool TWindow::Post(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam) {
  return Enqueue(prmMsg, prmWParam, prmLParam, false) != nullptr;
}

intptr_t TWindow::Send(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam) {
  if (IsWindowThread()) {
    if (IsDestroying()) return 0;
    return m_Handler ? m_Handler(prmMsg, prmWParam, prmLParam) : 0;
  }
  std::shared_ptr<TMsg> m = Enqueue(prmMsg, prmWParam, prmLParam, true);
  if (m == nullptr) return 0;
  std::unique_lock<std::mutex> g(m->Lock);
  m->Cv.wait(g, [&] { return m->Done || m->Cancelled; });
  return m->Done ? m->Result : 0;
}

int TWindow::ProcessMessages() {
  int handled = 0;
  for (;;) {
    std::shared_ptr<TMsg> m;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      if (m_Queue.empty() || m_Destroying) {
        m_Pending.Reset();
        return handled;
      }
      m = std::move(m_Queue.front());
      m_Queue.pop_front();
    }
    intptr_t r = 0;
    try {
      r = m_Handler ? m_Handler(m->Msg, m->WParam, m->LParam) : 0;
    } catch (...) {
      // The failure belongs to the window thread; the sender is released with 0, not left
      // waiting for an answer that never comes.
      if (m->Sent) m->Finish(false, 0);
      throw;
    }
    ++handled;
    if (m->Sent) m->Finish(true, r);
  }
}

bool TWindow::WaitMessage(int prmTimeoutMs) {
  if (IsDestroying()) return false;
  if (!m_Pending.Wait(prmTimeoutMs)) return false;
  ProcessMessages();
  return !IsDestroying();
}

bool TWindow::WaitHandlingMessages(TEvent& prmEvent, int prmTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  for (;;) {
    pollfd fds[2] = {{prmEvent.Fd(), POLLIN, 0}, {m_Pending.Fd(), POLLIN, 0}};
    int wait = prmTimeoutMs < 0 ? -1 : MsLeft(deadline);
    int r = poll(fds, 2, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if ((fds[0].revents & POLLIN) && prmEvent.TryConsume()) return true;
    if (fds[1].revents & POLLIN) {
      if (IsDestroying()) return prmEvent.Wait(wait);
      ProcessMessages();
    }
    if (prmTimeoutMs >= 0 && MsLeft(deadline) == 0) return prmEvent.Wait(0);
  }
}

void TWindow::Destroy() {
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Destroying) return;
  m_Destroying = true;
  for (auto& m : m_Queue)
    if (m->Sent) m->Finish(false, 0);
  m_Queue.clear();
  m_Pending.Set();
}

bool TWindow::IsDestroying() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Destroying;
}

}  // namespace vantrel
