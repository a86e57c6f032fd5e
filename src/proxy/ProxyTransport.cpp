#include "proxy/ProxyTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/Event.h"
#include "platform/Resolver.h"
#include "proxy/ProxyReply.h"

namespace vantrel {

namespace {

constexpr size_t kReadSize = 1024;

enum class TWait { Ready, TimedOut, Failed, Stopped };

thread_local int t_StopFd = -1;
thread_local int t_ReplyWaitMs = kProxyWaitMs;

// The stop request shares the socket's poll, so a peer that keeps the socket readable (a drip)
// cannot hide it.
TWait WaitFor(int prmSock, short prmEvents, TProxyDeadline prmDeadline, int prmStopFd) {
  pollfd p[2] = {{prmSock, prmEvents, 0}, {prmStopFd, POLLIN, 0}};
  for (;;) {
    const int left = MsLeft(prmDeadline);
    if (left == 0) return TWait::TimedOut;
    const int rc = poll(p, prmStopFd >= 0 ? 2 : 1, left);
    if (rc > 0) return p[1].revents & POLLIN ? TWait::Stopped : TWait::Ready;
    if (rc == 0) return TWait::TimedOut;
    if (errno != EINTR) return TWait::Failed;
  }
}

// One read of at most prmMax bytes before the deadline: the count, or how the read ended.
ssize_t ReadSome(int prmSock, TProxyDeadline prmDeadline, int prmStopFd, char* prmBuf,
                 size_t prmMax, TProxyRead& prmEnd) {
  for (;;) {
    const TWait w = WaitFor(prmSock, POLLIN, prmDeadline, prmStopFd);
    prmEnd = w == TWait::TimedOut  ? TProxyRead::TimedOut
             : w == TWait::Stopped ? TProxyRead::Stopped
                                   : TProxyRead::Closed;
    if (w != TWait::Ready) return 0;
    const ssize_t got = recv(prmSock, prmBuf, prmMax, 0);
    if (got > 0) return got;
    if (got == 0 || (errno != EINTR && errno != EAGAIN)) return 0;
  }
}

std::string LimitText(int prmMs) {
  return prmMs % 1000 == 0 ? std::to_string(prmMs / 1000) + " s" : std::to_string(prmMs) + " ms";
}

// The proxy's reason phrase as one short, printable piece of a log line.
std::string Printable(std::string_view prmText) {
  std::string out(prmText.substr(0, 80));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

}  // namespace

TProxyDeadline ProxyDeadline(int prmWaitMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(prmWaitMs);
}

TProxyThreadScope::TProxyThreadScope(int& prmSetting, int prmValue)
    : m_Setting(prmSetting), m_Outer(std::exchange(prmSetting, prmValue)) {}

TProxyThreadScope::~TProxyThreadScope() {
  m_Setting = m_Outer;
}

TProxyStopScope::TProxyStopScope(int prmStopFd) : TProxyThreadScope(t_StopFd, prmStopFd) {}

TProxyWaitScope::TProxyWaitScope(int prmWaitMs) : TProxyThreadScope(t_ReplyWaitMs, prmWaitMs) {}

int ProxyStopFd() {
  return t_StopFd;
}

int ProxyReplyWaitMs() {
  return t_ReplyWaitMs;
}

bool ResolveProxyAddress(const std::string& prmHost, int prmPort, sockaddr_in& prmAddr,
                         int prmStopFd) {
  prmAddr = sockaddr_in{};
  prmAddr.sin_family = AF_INET;
  prmAddr.sin_port = htons(static_cast<uint16_t>(prmPort));
  // A resolver that does not answer costs no more than any other piece of the exchange.
  TResolveWait wait;
  wait.LimitMs = kProxyWaitMs;
  wait.StopFd = prmStopFd;
  return ResolveIPv4(prmHost, prmAddr.sin_addr, wait) == TResolveResult::Resolved;
}

void CreateSocketAndConnect(const sockaddr_in& prmAddr, int& prmSock, int prmStopFd) {
  TUniqueFd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  prmSock = -1;
  if (!sock) return;
  if (connect(sock.Get(), reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) != 0) {
    if (errno != EINPROGRESS) return;
    // A proxy that drops the handshake must not hold the caller for the system's minutes.
    const TWait w = WaitFor(sock.Get(), POLLOUT, ProxyDeadline(kProxyWaitMs), prmStopFd);
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

TProxyRead ReadProxyHeader(int prmSock, TProxyDeadline prmDeadline, std::string& prmReply,
                           int prmStopFd) {
  prmReply.clear();
  char buf[kReadSize];
  for (;;) {
    TProxyRead how = TProxyRead::Closed;
    const ssize_t got = ReadSome(prmSock, prmDeadline, prmStopFd, buf, sizeof buf, how);
    if (got == 0) return how;
    const size_t from = prmReply.size() < 3 ? 0 : prmReply.size() - 3;
    prmReply.append(buf, strnlen(buf, static_cast<size_t>(got)));
    // The bound holds for a header that ends in the chunk that crosses it too.
    const size_t end = prmReply.find("\r\n\r\n", from);
    if ((end == std::string::npos ? prmReply.size() : end + 4) > kMaxProxyHeader) {
      WriteDebugLog("ReadProxyHeader - reply header longer than " +
                    std::to_string(kMaxProxyHeader) + " bytes, dropped");
      prmReply.clear();
      return TProxyRead::TooLong;
    }
    if (end != std::string::npos) return TProxyRead::Complete;
  }
}

TProxyRead DrainProxyBody(int prmSock, TProxyDeadline prmDeadline, int prmCount, int prmStopFd) {
  char buf[kReadSize];
  while (prmCount > 0) {
    TProxyRead how = TProxyRead::Closed;
    const ssize_t got = ReadSome(prmSock, prmDeadline, prmStopFd, buf,
                                 std::min(sizeof buf, static_cast<size_t>(prmCount)), how);
    if (got == 0) return how;
    prmCount -= static_cast<int>(got);
  }
  return TProxyRead::Complete;
}

bool TProxyLink::Open(const std::string& prmHost, int prmPort) {
  m_Host = prmHost;
  m_Port = prmPort;
  if (!ResolveProxyAddress(prmHost, prmPort, m_Addr, m_StopFd)) {
    WriteDebugLog("ConnectToProxy - Failed to resolve proxy name");
    Fail("name not resolved");
    return false;
  }
  int sock = -1;
  CreateSocketAndConnect(m_Addr, sock, m_StopFd);
  if (sock < 0) {
    const int err = errno;
    WriteDebugLog("ConnectToProxy - Failed to connect 1 " + std::to_string(err));
    WriteDebugLog("ConnectToProxy - Failed to connect 2 " + std::string(std::strerror(err)));
    Fail("could not connect (" + std::string(std::strerror(err)) + ")");
    return false;
  }
  m_Sock.Reset(sock);
  return true;
}

bool TProxyLink::Reconnect() {
  m_Sock.Reset();
  int sock = -1;
  CreateSocketAndConnect(m_Addr, sock, m_StopFd);
  m_Sock.Reset(sock);
  if (sock >= 0) return true;
  const int err = errno;
  Fail("could not reconnect (" + std::string(std::strerror(err)) + ")");
  errno = err;  // the caller's own line reports it
  return false;
}

bool TProxyLink::Send(const std::string& prmRequest) {
  const std::string wire = ToAnsi(prmRequest);
  if (SendToProxy(m_Sock.Get(), wire.data(), wire.size())) return true;
  const int err = errno;
  WriteDebugLog("Failed to send data proxy (" + std::to_string(err) + ")");
  Fail("could not send the request (" + std::string(std::strerror(err)) + ")");
  m_Sock.Reset();
  return false;
}

std::string TProxyLink::ReadHeader() {
  m_Deadline = ProxyDeadline(m_WaitMs);
  std::string reply;
  switch (ReadProxyHeader(m_Sock.Get(), m_Deadline, reply, m_StopFd)) {
    case TProxyRead::Complete: {
      const TProxyStatusLine status = ReadStatusLine(reply);
      m_Answer = !status.Valid ? "malformed status line"
                               : "answered " + std::to_string(status.Code) +
                                     (status.Reason.empty() ? "" : " " + Printable(status.Reason));
      break;
    }
    case TProxyRead::TimedOut:
      m_Answer = "no complete reply header within " + LimitText(m_WaitMs);
      break;
    case TProxyRead::Closed:
      m_Answer = "closed the connection";
      break;
    case TProxyRead::TooLong:
      m_Answer = "reply header over " + std::to_string(kMaxProxyHeader / 1024) + " KiB";
      break;
    case TProxyRead::Stopped:
      m_Answer = "stopped while waiting for the reply";
      break;
  }
  return reply;
}

void TProxyLink::Drain(int prmCount) {
  DrainProxyBody(m_Sock.Get(), m_Deadline, prmCount, m_StopFd);
}

void TProxyLink::LogFailure() const {
  std::string what = m_Answer;
  if (!m_Why.empty()) what += (what.empty() ? "" : "; ") + m_Why;
  WriteDebugLog("ConnectToProxy - proxy " + m_Host + ":" + std::to_string(m_Port) +
                " failed: " + (what.empty() ? "no tunnel" : what));
}

}  // namespace vantrel
