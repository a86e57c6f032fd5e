#include "tls/SocketIo.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

#include "platform/Event.h"

namespace vantrel {

namespace {

bool WaitFor(int prmSock, short prmEvents, int prmTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  for (;;) {
    pollfd p{prmSock, prmEvents, 0};
    int rc = poll(&p, 1, MsLeft(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;  // let the following call report the socket's error
  }
}

}  // namespace

int SendAll(int prmSock, const uint8_t* prmData, size_t prmLen) {
  size_t done = 0;
  while (done < prmLen) {
    // MSG_NOSIGNAL: a peer that went away must be an error here, not a process-ending signal.
    ssize_t n = send(prmSock, prmData + done, prmLen - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n == 0) return EPIPE;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (!WaitFor(prmSock, POLLOUT, kSocketStallMs)) return ETIMEDOUT;
  }
  return 0;
}

bool WaitReadable(int prmSock, int prmTimeoutMs) {
  return WaitFor(prmSock, POLLIN, prmTimeoutMs);
}

}  // namespace vantrel
