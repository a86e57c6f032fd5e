#include "host/vantreltcs/HostLoop.h"

#include <errno.h>
#include <poll.h>

#include "control/VantrelTCSImpl.h"

namespace vantrel::host {

TDispResult InvokePageCall(const TDispatchTable& prmTable, const TPageCall& prmCall) {
  const TDispMember* m = prmCall.Name.empty() ? prmTable.Find(prmCall.DispID, prmCall.Kind)
                                              : prmTable.Find(prmCall.Name, prmCall.Kind);
  std::vector<Variant> args = prmCall.Args;
  if (m != nullptr && m->OutCount > 0 && args.size() == m->Params.size() + m->OutCount)
    args.resize(m->Params.size());
  return prmCall.Name.empty() ? prmTable.Invoke(prmCall.DispID, prmCall.Kind, args)
                              : prmTable.Invoke(prmCall.Name, prmCall.Kind, args);
}

void THostLoop::ServeCalls(TWindow& prmWindow, const TDispatchTable& prmTable,
                           TPageChannel& prmChannel) {
  // Reset before taking, so a call queued meanwhile sets the event again.
  m_CallsReady.Reset();
  while (auto call = prmChannel.TakeCall()) {
    prmChannel.WriteReply(call->Id, InvokePageCall(prmTable, *call));
    prmWindow.ProcessMessages();
  }
}

void THostLoop::ReleaseAndClose() {
  {
    std::lock_guard<std::mutex> g(m_ReleaseLock);
    if (m_Releasing != nullptr) m_Releasing->RequestRelease();
  }
  ChannelClosed();
}

void THostLoop::SetReleasing(TVantrelTCSX* prmControl) {
  std::lock_guard<std::mutex> g(m_ReleaseLock);
  m_Releasing = prmControl;
}

void THostLoop::Run(TWindow& prmWindow, const TDispatchTable& prmTable, TPageChannel& prmChannel,
                    const std::function<void()>& prmIdle) {
  for (;;) {
    prmWindow.ProcessMessages();
    // The close is read before the queue: the channel closes only after queueing its last call.
    bool closed = m_Closed.IsSet();
    ServeCalls(prmWindow, prmTable, prmChannel);
    if (prmIdle) prmIdle();
    if (closed) return;
    pollfd fds[3] = {
        {prmWindow.Fd(), POLLIN, 0}, {m_CallsReady.Fd(), POLLIN, 0}, {m_Closed.Fd(), POLLIN, 0}};
    if (poll(fds, 3, -1) < 0 && errno != EINTR) return;
  }
}

}  // namespace vantrel::host
