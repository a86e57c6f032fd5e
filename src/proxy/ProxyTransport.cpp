#include "proxy/ProxyTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/Resolver.h"
#include "proxy/ProxyReply.h"

namespace vantrel {

namespace {

constexpr size_t kReadSize = 1024;

enum class TWait { Ready, TimedOut, Failed, Stopped };

thread_local int t_StopFd = -1;

TWait WaitFor(int prmSock, short prmEvents, int prmWaitMs) {
  pollfd p[2] = {{prmSock, prmEvents, 0}, {t_StopFd, POLLIN, 0}};
  for (;;) {
    const int rc = poll(p, t_StopFd >= 0 ? 2 : 1, prmWaitMs);
    if (rc > 0) return p[1].revents & POLLIN ? TWait::Stopped : TWait::Ready;
    if (rc == 0) return TWait::TimedOut;
    if (errno != EINTR) return TWait::Failed;
  }
}

// One read of at most prmMax bytes after a bounded wait: the count, 0 when the peer closed or the
// socket failed, -1 when the wait ran out.
ssize_t ReadSome(int prmSock, int prmWaitMs, char* prmBuf, size_t prmMax) {
  for (;;) {
    const TWait w = WaitFor(prmSock, POLLIN, prmWaitMs);
    if (w == TWait::TimedOut) return -1;
    if (w != TWait::Ready) return 0;
    const ssize_t got = recv(prmSock, prmBuf, prmMax, 0);
    if (got >= 0) return got;
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
}

}  // namespace

TProxyStopScope::TProxyStopScope(int prmStopFd) : m_Outer(std::exchange(t_StopFd, prmStopFd)) {}

TProxyStopScope::~TProxyStopScope() {
  t_StopFd = m_Outer;
}

bool ResolveProxyAddress(const std::string& prmHost, int prmPort, sockaddr_in& prmAddr) {
  prmAddr = sockaddr_in{};
  prmAddr.sin_family = AF_INET;
  prmAddr.sin_port = htons(static_cast<uint16_t>(prmPort));
  // A resolver that does not answer costs no more than any other piece of the exchange.
  TResolveWait wait;
  wait.LimitMs = kProxyWaitMs;
  wait.StopFd = t_StopFd;
  return ResolveIPv4(prmHost, prmAddr.sin_addr, wait) == TResolveResult::Resolved;
}

void CreateSocketAndConnect(const sockaddr_in& prmAddr, int& prmSock) {
  TUniqueFd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  prmSock = -1;
  if (!sock) return;
  if (connect(sock.Get(), reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) != 0) {
    if (errno != EINPROGRESS) return;
    // A proxy that drops the handshake must not hold the caller for the system's minutes.
    const TWait w = WaitFor(sock.Get(), POLLOUT, kProxyWaitMs);
    if (w != TWait::Ready) {
      errno = w == TWait::Stopped ? ECANCELED : ETIMEDOUT;
      return;
    }
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      errno = err;
      return;
    }
  }
  fcntl(sock.Get(), F_SETFL, fcntl(sock.Get(), F_GETFL) & ~O_NONBLOCK);
  prmSock = sock.Release();
}

bool SendToProxy(int prmSock, const char* prmBytes, size_t prmLen) {
  while (prmLen > 0) {
    const ssize_t sent = send(prmSock, prmBytes, prmLen, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    prmBytes += sent;
    prmLen -= static_cast<size_t>(sent);
  }
  return true;
}

bool ReadProxyHeader(int prmSock, int prmWaitMs, std::string& prmReply) {
  prmReply.clear();
  char buf[kReadSize];
  for (;;) {
    const ssize_t got = ReadSome(prmSock, prmWaitMs, buf, sizeof buf);
    if (got < 0) return true;
    if (got == 0) return false;
    const size_t from = prmReply.size() < 3 ? 0 : prmReply.size() - 3;
    prmReply.append(buf, strnlen(buf, static_cast<size_t>(got)));
    if (prmReply.find("\r\n\r\n", from) != std::string::npos) return false;
    if (prmReply.size() > kMaxProxyHeader) {
      WriteDebugLog("ReadProxyHeader - reply header longer than " +
                    std::to_string(kMaxProxyHeader) + " bytes, dropped");
      prmReply.clear();
      return false;
    }
  }
}

bool DrainProxyBody(int prmSock, int prmWaitMs, int prmCount) {
  char buf[kReadSize];
  while (prmCount > 0) {
    const ssize_t got =
        ReadSome(prmSock, prmWaitMs, buf, std::min(sizeof buf, static_cast<size_t>(prmCount)));
    if (got < 0) return true;
    if (got == 0) return false;
    prmCount -= static_cast<int>(got);
  }
  return false;
}

bool TProxyLink::Open(const std::string& prmHost, int prmPort) {
  if (!ResolveProxyAddress(prmHost, prmPort, m_Addr)) {
    WriteDebugLog("ConnectToProxy - Failed to resolve proxy name");
    return false;
  }
  int sock = -1;
  CreateSocketAndConnect(m_Addr, sock);
  if (sock < 0) {
    const int err = errno;
    WriteDebugLog("ConnectToProxy - Failed to connect 1 " + std::to_string(err));
    WriteDebugLog("ConnectToProxy - Failed to connect 2 " + std::string(std::strerror(err)));
    return false;
  }
  m_Sock.Reset(sock);
  return true;
}

bool TProxyLink::Reconnect() {
  m_Sock.Reset();
  int sock = -1;
  CreateSocketAndConnect(m_Addr, sock);
  m_Sock.Reset(sock);
  return sock >= 0;
}

bool TProxyLink::Send(const std::string& prmRequest) {
  const std::string wire = ToAnsi(prmRequest);
  if (SendToProxy(m_Sock.Get(), wire.data(), wire.size())) return true;
  WriteDebugLog("Failed to send data proxy (" + std::to_string(errno) + ")");
  m_Sock.Reset();
  return false;
}

std::string TProxyLink::ReadHeader() {
  std::string reply;
  ReadProxyHeader(m_Sock.Get(), kProxyWaitMs, reply);
  return reply;
}

void TProxyLink::Drain(int prmCount) {
  DrainProxyBody(m_Sock.Get(), kProxyWaitMs, prmCount);
}

}  // namespace vantrel
