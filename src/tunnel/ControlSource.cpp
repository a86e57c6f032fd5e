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
  // The channel reports "nothing now" and "peer closed" alike; the socket tells them apart.
  char c;
  ssize_t r = recv(m_Sock, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (r == 0) return kClosed;
  if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kClosed;
  return 0;
}

IControlSource::TWait CTlsControlSource::Wait(int prmTimeoutMs) {
  if (m_Stop.IsSet()) return TWait::Stopped;
  if (m_SSPI.QueuedPlaintext() > 0) return TWait::Ready;
  for (;;) {
    pollfd fds[2] = {{m_Sock, POLLIN | POLLRDHUP, 0}, {m_Stop.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, prmTimeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (fds[1].revents & POLLIN) return TWait::Stopped;
    return r > 0 ? TWait::Ready : TWait::Timeout;
  }
}

}  // namespace vantrel
