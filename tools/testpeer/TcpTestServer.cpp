#include "testpeer/TcpTestServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "testpeer/PeerSocket.h"

namespace vantrel::testpeer {

namespace {

constexpr size_t kChunk = 65536;
constexpr int kRefuseBackoffMs = 50;

struct TTcpConn {
  std::vector<uint8_t> Pending;  // echo: received, not yet sent back
  size_t PendingOffset = 0;
  uint64_t SourceSent = 0;
};

}  // namespace

TTcpTestServer::TTcpTestServer(TTcpServerMode prmMode, uint64_t prmSourceBytes)
    : m_Mode(prmMode), m_SourceBytes(prmSourceBytes) {}

TTcpTestServer::~TTcpTestServer() {
  Stop();
}

uint16_t TTcpTestServer::Start() {
  m_ListenFd = ListenOn(0x7f000001, 0, m_Port);
  m_Thread = std::thread([this] { ServeThd(); });
  return m_Port;
}

void TTcpTestServer::Stop() {
  m_Stop.Set();
  if (m_Thread.joinable()) m_Thread.join();
  if (m_ListenFd >= 0) ::close(m_ListenFd);
  m_ListenFd = -1;
}

TTcpServerCounters TTcpTestServer::Counters() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Counters;
}

bool TTcpTestServer::WaitFor(const std::function<bool(const TTcpServerCounters&)>& prmDone,
                             int prmTimeoutMs) {
  std::unique_lock<std::mutex> g(m_Lock);
  return m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs),
                            [&] { return prmDone(m_Counters); });
}

void TTcpTestServer::Change(const std::function<void(TTcpServerCounters&)>& prmChange) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    prmChange(m_Counters);
  }
  m_Changed.notify_all();
}

void TTcpTestServer::ServeThd() {
  std::map<int, TTcpConn> conns;
  std::vector<uint8_t> buf(kChunk);
  std::vector<pollfd> fds;
  auto drop = [&](int fd) {
    ::close(fd);
    conns.erase(fd);
    Change([](TTcpServerCounters& c) { ++c.Closed; });
  };
  try {
    for (;;) {
      fds.clear();
      fds.push_back({m_Stop.Fd(), POLLIN, 0});
      fds.push_back({m_ListenFd, POLLIN, 0});
      for (auto& [fd, c] : conns) {
        bool wantOut = m_Mode == TTcpServerMode::Source ? c.SourceSent < m_SourceBytes
                                                        : c.PendingOffset < c.Pending.size();
        // Echo stops reading while its answer is stuck, so memory stays bounded.
        short ev = (m_Mode == TTcpServerMode::Echo && wantOut) ? 0 : POLLIN;
        if (wantOut) ev |= POLLOUT;
        fds.push_back({fd, ev, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) break;
      if (fds[1].revents & POLLIN) {
        int fd = AcceptConnection(m_ListenFd);
        // Out of descriptors: the waiting client is closed rather than left to spin on.
        if (fd < 0 && TSpareFd::IsShortage(errno) && !m_Spare.RefuseWaiting(m_ListenFd))
          m_Stop.Wait(kRefuseBackoffMs);
        if (fd >= 0) {
          conns[fd];
          if (m_Mode == TTcpServerMode::Source && m_SourceBytes == 0) ::shutdown(fd, SHUT_WR);
          Change([](TTcpServerCounters& c) { ++c.Accepted; });
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        const int fd = fds[i].fd;
        const short re = fds[i].revents;
        auto it = conns.find(fd);
        if (re == 0 || it == conns.end()) continue;
        TTcpConn& c = it->second;
        if (re & POLLOUT) {
          ssize_t n;
          if (m_Mode == TTcpServerMode::Source) {
            size_t len =
                static_cast<size_t>(std::min<uint64_t>(kChunk, m_SourceBytes - c.SourceSent));
            for (size_t k = 0; k < len; ++k) buf[k] = PatternByte(c.SourceSent + k);
            n = ::send(fd, buf.data(), len, MSG_NOSIGNAL);
            if (n > 0) c.SourceSent += static_cast<uint64_t>(n);
          } else {
            n = ::send(fd, c.Pending.data() + c.PendingOffset, c.Pending.size() - c.PendingOffset,
                       MSG_NOSIGNAL);
            if (n > 0) c.PendingOffset += static_cast<size_t>(n);
          }
          if (n < 0 && errno != EAGAIN && errno != EINTR) {
            drop(fd);
            continue;
          }
          if (n > 0)
            Change([n](TTcpServerCounters& k) { k.BytesSent += static_cast<uint64_t>(n); });
          if (c.PendingOffset == c.Pending.size()) {
            c.Pending.clear();
            c.PendingOffset = 0;
          }
          // Half-close and read on until the other side closes, so no reset cuts the data.
          if (m_Mode == TTcpServerMode::Source && c.SourceSent == m_SourceBytes && n > 0)
            ::shutdown(fd, SHUT_WR);
        }
        if (re & (POLLIN | POLLHUP | POLLERR)) {
          ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
          if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
          if (n <= 0) {
            drop(fd);
            continue;
          }
          if (m_Mode == TTcpServerMode::Echo)
            c.Pending.insert(c.Pending.end(), buf.begin(), buf.begin() + n);
          Change([n](TTcpServerCounters& k) { k.BytesReceived += static_cast<uint64_t>(n); });
        }
      }
    }
  } catch (...) {
    WriteDebugLog("testpeer test server: unexpected failure");
  }
  for (auto& [fd, c] : conns) ::close(fd);
}

}  // namespace vantrel::testpeer
