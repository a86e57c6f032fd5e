#include "tunnel/LinkReader.h"

#include <vector>

#include "diag/ThreadEntry.h"
#include "tunnel/ControlSource.h"

namespace vantrel {

namespace {
constexpr int kControlWaitMs = 1000;
// What the control thread takes from the channel at once: as much as the channel's receive
// buffer holds, so one read of the socket becomes one run for the application.
constexpr size_t kControlReadSize = 256 * 1024;
}  // namespace

void CLinkReader::Start(TLinkHandlers prmHandlers) {
  m_Handlers = std::move(prmHandlers);
  try {
    m_Thd = std::thread([this] { Run(); });
  } catch (...) {
    m_Link.SetState(TTunnelState::Halted);
    throw;
  }
}

void CLinkReader::Join(HWND prmWnd) {
  if (!m_Thd.joinable()) return;
  // On the window thread a wait must keep handling messages: the loss path may be sending one.
  if (prmWnd != nullptr && prmWnd->IsWindowThread())
    prmWnd->WaitHandlingMessages(m_Done, -1);
  else
    m_Done.Wait(-1);
  m_Thd.join();
}

void CLinkReader::Run() {
  RunGuarded("_ControlConThd", [this] { Loop(); });
  // Still live here only when the loop failed (a message the gateway should not have sent):
  // the stream is out of step, so the tunnel is as lost as if the gateway had closed it.
  if (IsTunnelLive(m_Link.State())) m_Handlers.Lost("Control connection lost (protocol error)");
  m_Done.Set();
}

void CLinkReader::Loop() {
  CTlsControlSource source = m_Link.Source();
  std::vector<uint8_t> buf(kControlReadSize);
  int failures = 0;
  bool drain = false;
  int idle = 0;
  while (IsTunnelLive(m_Link.State())) {
    if (!drain) {
      IControlSource::TWait w = source.Wait(kControlWaitMs);
      if (w == IControlSource::TWait::Stopped) break;
      if (w == IControlSource::TWait::Timeout) {
        ++idle;
        m_Handlers.Idle(idle);
        continue;
      }
      idle = 0;
    }
    const int n = ReadCounted(source, buf.data(), static_cast<int>(buf.size()), failures);
    if (!IsTunnelLive(m_Link.State())) break;
    if (n == IControlSource::kClosed) {
      m_Handlers.Lost("Control connection closed by the gateway");
      return;
    }
    if (n > 0) m_Handlers.Received(buf.data(), static_cast<size_t>(n));
    // Read again at once only while the socket may still hold bytes: once a read drained it,
    // the next one would find nothing and the wait comes first.
    drain = n > 0 && source.MayHaveMore();
  }
}

}  // namespace vantrel
