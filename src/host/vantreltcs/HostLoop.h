// The window thread of the host: it handles the window's messages and runs the page's calls
// against the control's dispatch table, one at a time and in arrival order, until the page ends
// the channel. Page calls are not window messages, so a call never starts inside a dialog the
// window thread is showing (those waits handle window messages only).
#pragma once

#include <functional>
#include <mutex>

#include "control/Dispatch.h"
#include "host/vantreltcs/PageChannel.h"
#include "platform/Event.h"
#include "platform/Window.h"

namespace vantrel {
class TVantrelTCSX;
}

namespace vantrel::host {

class THostLoop {
 public:
  // For the channel's callbacks (any thread).
  void CallQueued() { m_CallsReady.Set(); }
  void ChannelClosed() { m_Closed.Set(); }
  // The channel's end (any thread): the control, while one is set, starts its release at once,
  // so its waits end even while the window thread is inside a call; then the loop ends.
  void ReleaseAndClose();
  // The control ReleaseAndClose releases; set while it lives (nullptr before it goes).
  void SetReleasing(TVantrelTCSX* prmControl);

  // On prmWindow's thread; all borrowed. Returns once the channel closed and every call queued
  // before that was answered. prmIdle (may be empty) runs whenever the queue ran dry, so a
  // terminal form can be redrawn.
  void Run(TWindow& prmWindow, const TDispatchTable& prmTable, TPageChannel& prmChannel,
           const std::function<void()>& prmIdle = {});

  // For a host that waits in a loop of its own (GTK's): readable when calls were queued, and when
  // the channel closed.
  int CallsFd() { return m_CallsReady.Fd(); }
  int ClosedFd() { return m_Closed.Fd(); }
  bool Closed() const { return m_Closed.IsSet(); }
  // Answers every call queued now, in order, handling the window's messages between them.
  void ServeCalls(TWindow& prmWindow, const TDispatchTable& prmTable, TPageChannel& prmChannel);

 private:
  TEvent m_CallsReady{true};
  TEvent m_Closed{true};
  std::mutex m_ReleaseLock;
  TVantrelTCSX* m_Releasing = nullptr;  // guarded by m_ReleaseLock
};

// Runs one page call. Out parameters may be left out of "args" or passed as placeholders (as an
// automation caller does); placeholders are dropped.
TDispResult InvokePageCall(const TDispatchTable& prmTable, const TPageCall& prmCall);

}  // namespace vantrel::host
