#include "tunnel/ControlSource.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

int ReadCounted(IControlSource& prmSource, uint8_t* prmBuf, int prmLen, int& prmFailures) {
  try {
    int n = prmSource.Read(prmBuf, prmLen);
    prmFailures = 0;
    return n;
  } catch (const EBaseException& e) {
    WriteDebugLog("ControlConThd Exception (" + e.GetMsg() + ")");
  }
  return ++prmFailures >= kMaxReadFailures ? IControlSource::kClosed : 0;
}

int CTlsControlSource::Read(uint8_t* prmBuf, int prmLen) {
  int got = 0;
  m_SSPI.RecvSec(m_Sock, prmBuf, prmLen, got);
  if (got > 0) return got;
  // The channel reports "nothing now" and "peer closed" alike; its last receive tells them
  // apart, or else the socket.
  if (m_SSPI.PeerClosed()) return kClosed;
  if (m_SSPI.SocketDrained()) return 0;
  char c;
  ssize_t r = recv(m_Sock, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (r == 0) return kClosed;
  if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kClosed;
  return 0;
}

bool CTlsControlSource::MayHaveMore() const {
  return !m_SSPI.SocketDrained() || m_SSPI.HasBufferedData();
}

IControlSource::TWait CTlsControlSource::Wait(int prmTimeoutMs) {
  // Whole records held count too: the socket will not signal them again. Otherwise the stop is
  // one more descriptor of the same poll, not a check of its own.
  if (m_SSPI.HasBufferedData()) return m_Stop.IsSet() ? TWait::Stopped : TWait::Ready;
  for (;;) {
    pollfd fds[2] = {{m_Sock, POLLIN | POLLRDHUP, 0}, {m_Stop.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, prmTimeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (fds[1].revents & POLLIN) return TWait::Stopped;
    return r > 0 ? TWait::Ready : TWait::Timeout;
  }
}

}  // namespace vantrel
