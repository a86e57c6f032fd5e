#include "testpeer/ProxyPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string_view>

#include "testpeer/PeerSocket.h"

namespace vantrel::testpeer {

namespace {
constexpr int kStepMs = 50;
// What the peer waits for a client before it gives up on the script.
constexpr int kIdleLimitMs = 10000;

// Readable within the idle limit, checking prmStop between short waits.
bool WaitReadable(int prmFd, const std::atomic<bool>& prmStop) {
  for (int waited = 0; waited < kIdleLimitMs && !prmStop; waited += kStepMs) {
    pollfd p{prmFd, POLLIN, 0};
    if (poll(&p, 1, kStepMs) > 0) return true;
  }
  return false;
}

// False when the client is gone.
bool SendAll(int prmFd, std::string_view prmBytes) {
  size_t off = 0;
  while (off < prmBytes.size()) {
    pollfd p{prmFd, POLLOUT, 0};
    if (poll(&p, 1, kIdleLimitMs) <= 0) return false;
    const ssize_t n = send(prmFd, prmBytes.data() + off, prmBytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

TProxyPeer::TProxyPeer(std::vector<TProxyStep> prmScript) : m_Script(std::move(prmScript)) {}

TProxyPeer::~TProxyPeer() {
  m_Stop = true;
  if (m_Thread.joinable()) m_Thread.join();
  if (m_ListenFd >= 0) close(m_ListenFd);
}

uint16_t TProxyPeer::Start() {
  uint16_t port = 0;
  m_ListenFd = ListenOn(0x7F000001, 0, port);
  m_Thread = std::thread([this] { ServeThd(); });
  return port;
}

std::vector<TProxyPeer::TRequest> TProxyPeer::Requests() const {
  std::lock_guard g(m_Lock);
  return m_Requests;
}

void TProxyPeer::WaitDone(int prmTimeoutMs) {
  for (int waited = 0; waited < prmTimeoutMs && !m_Done; waited += kStepMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
}

int TProxyPeer::AcceptNext() {
  if (!WaitReadable(m_ListenFd, m_Stop)) return -1;
  const int fd = AcceptConnection(m_ListenFd);
  if (fd >= 0) {
    std::lock_guard g(m_Lock);
    ++m_Connections;
  }
  return fd;
}

bool TProxyPeer::ReadRequest(int prmFd, std::string& prmOut) {
  prmOut.clear();
  char c;
  // Byte by byte, so that nothing of a later request is taken with this one.
  while (prmOut.size() < 4 || prmOut.compare(prmOut.size() - 4, 4, "\r\n\r\n") != 0) {
    if (!WaitReadable(prmFd, m_Stop)) return false;
    if (recv(prmFd, &c, 1, 0) != 1) return false;
    prmOut += c;
  }
  return true;
}

void TProxyPeer::Echo(int prmFd) {
  char buf[1024];
  while (WaitReadable(prmFd, m_Stop)) {
    const ssize_t n = recv(prmFd, buf, sizeof buf, 0);
    if (n <= 0) return;
    SendAll(prmFd, std::string(buf, static_cast<size_t>(n)));
  }
}

void TProxyPeer::Drip(int prmFd, const std::string& prmBytes, int prmGapMs) {
  for (size_t i = 0; i < prmBytes.size() && !m_Stop; ++i) {
    if (!SendAll(prmFd, std::string_view(prmBytes).substr(i, 1))) return;
    // A client that closed turns the socket readable (end of file): stop at once.
    pollfd p{prmFd, POLLIN, 0};
    if (poll(&p, 1, prmGapMs) > 0) return;
  }
}

void TProxyPeer::ServeThd() {
  int fd = -1;
  for (const TProxyStep& step : m_Script) {
    std::string request;
    while (fd < 0 || !ReadRequest(fd, request)) {
      if (fd >= 0) close(fd);
      fd = AcceptNext();
      if (fd < 0) break;
    }
    if (fd < 0) break;
    {
      std::lock_guard g(m_Lock);
      m_Requests.push_back({m_Connections, request});
    }
    if (step.DripMs > 0)
      Drip(fd, step.Reply, step.DripMs);
    else
      SendAll(fd, step.Reply);
    if (!step.Later.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      SendAll(fd, step.Later);
    }
    if (step.Close) {
      close(fd);
      fd = -1;
    }
  }
  m_Done = true;
  if (fd >= 0) {
    Echo(fd);
    close(fd);
  }
}

}  // namespace vantrel::testpeer
