// The control's window: a message queue owned by one thread (the window thread). Post from any
// thread; Send blocks the caller until the window thread handled the message (inline when called
// on that thread). Waits made on the window thread should go through WaitHandlingMessages so a
// worker blocked in Send can never deadlock with them. Send to a window being destroyed returns 0
// at once.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Event.h"

namespace vantrel {

constexpr uint32_t WM_USER = 0x0400;

using TMsgHandler =
    std::function<intptr_t(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam)>;

class TWindow {
 public:
  // The calling thread becomes the window thread.
  explicit TWindow(TMsgHandler prmHandler);
  ~TWindow();
  TWindow(const TWindow&) = delete;
  TWindow& operator=(const TWindow&) = delete;

  // False when the window is being destroyed (the message is dropped).
  bool Post(uint32_t prmMsg, uintptr_t prmWParam = 0, intptr_t prmLParam = 0);
  intptr_t Send(uint32_t prmMsg, uintptr_t prmWParam = 0, intptr_t prmLParam = 0);

  // Handles every pending message; returns how many. Window thread only.
  int ProcessMessages();
  // Waits up to prmTimeoutMs for a message and handles what is pending; -1 without limit.
  // Returns false on timeout or when the window was destroyed.
  bool WaitMessage(int prmTimeoutMs);
  // Waits for prmEvent while handling messages sent or posted to this window. On the window
  // thread this is the only safe way to wait for a worker. True when the event was signalled.
  bool WaitHandlingMessages(TEvent& prmEvent, int prmTimeoutMs);

  // From now on Send returns 0 at once and Post drops; blocked senders are released.
  void Destroy();
  bool IsDestroying() const;
  bool IsWindowThread() const { return std::this_thread::get_id() == m_Owner; }
  // Moves ownership to the calling thread (a host that creates the window before its loop).
  void BindToCurrentThread() { m_Owner = std::this_thread::get_id(); }
  // Readable while messages are pending; for poll() loops of the window thread.
  int Fd() const { return m_Pending.Fd(); }

 private:
  struct TMsg;
  // Queues the message; null when the window is being destroyed.
  std::shared_ptr<TMsg> Enqueue(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam,
                                bool prmSent);

  TMsgHandler m_Handler;
  std::thread::id m_Owner;
  mutable std::mutex m_Lock;
  std::deque<std::shared_ptr<TMsg>> m_Queue;
  TEvent m_Pending{true};
  bool m_Destroying = false;
};

using HWND = TWindow*;

// Posts or sends to a window that may be absent (nullptr): the common case of optional notices.
inline bool PostMessage(HWND prmWnd, uint32_t prmMsg, uintptr_t prmW = 0, intptr_t prmL = 0) {
  return prmWnd != nullptr && prmWnd->Post(prmMsg, prmW, prmL);
}
inline intptr_t SendMessage(HWND prmWnd, uint32_t prmMsg, uintptr_t prmW = 0, intptr_t prmL = 0) {
  return prmWnd != nullptr ? prmWnd->Send(prmMsg, prmW, prmL) : 0;
}

}  // namespace vantrel
