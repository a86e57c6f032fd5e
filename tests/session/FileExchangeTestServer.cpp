#include "session/FileExchangeTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "diag/TextCodecs.h"
#include "testpeer/PeerTls.h"

namespace vantrel::test {

std::string TRecordedRequest::Header(const std::string& prmName) const {
  for (const std::string& h : Headers) {
    size_t colon = h.find(':');
    if (colon != std::string::npos && SameText(h.substr(0, colon), prmName))
      return Trim(h.substr(colon + 1));
  }
  return "";
}

THttpTestServer::THttpTestServer(bool prmTls) {
  if (prmTls) m_Ctx = testpeer::CreateServerContext({}).release();
  m_ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (m_ListenFd < 0 || bind(m_ListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(m_ListenFd, 8) != 0 ||
      getsockname(m_ListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("test server cannot listen");
  m_Port = ntohs(addr.sin_port);
  m_Replies.push_back(Reply(200, ""));
  m_Thread = std::thread([this] { ServeThd(); });
}

THttpTestServer::~THttpTestServer() {
  m_Stop.Set();
  m_Thread.join();
  close(m_ListenFd);
  if (m_Ctx != nullptr) SSL_CTX_free(m_Ctx);
}

void THttpTestServer::Script(std::vector<std::string> prmReplies) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_Replies.assign(prmReplies.begin(), prmReplies.end());
}

std::vector<TRecordedRequest> THttpTestServer::Requests() {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Requests;
}

bool THttpTestServer::WaitForRequests(size_t prmCount) {
  std::unique_lock<std::mutex> g(m_Lock);
  m_Changed.wait(g, [&] { return m_Requests.size() >= prmCount || m_Stopped; });
  return m_Requests.size() >= prmCount;
}

std::string THttpTestServer::Reply(int prmCode, const std::string& prmBody,
                                   const std::string& prmExtraHeaders) {
  return "HTTP/1.1 " + std::to_string(prmCode) +
         " X\r\nContent-Length: " + std::to_string(prmBody.size()) + "\r\nConnection: close\r\n" +
         prmExtraHeaders + "\r\n" + prmBody;
}

void THttpTestServer::ServeThd() {
  for (;;) {
    pollfd p[2] = {{m_ListenFd, POLLIN, 0}, {m_Stop.Fd(), POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents != 0) break;
    int fd = accept4(m_ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ServeOne(fd);
    close(fd);
  }
  std::lock_guard<std::mutex> g(m_Lock);
  m_Stopped = true;
  m_Changed.notify_all();
}

namespace {

// Reads from the plain socket or the TLS session, giving up when the server stops.
ssize_t ReadSome(int prmFd, SSL* prmSsl, TEvent& prmStop, char* prmBuf, size_t prmLen) {
  if (prmSsl != nullptr && SSL_pending(prmSsl) > 0)
    return SSL_read(prmSsl, prmBuf, static_cast<int>(prmLen));
  pollfd p[2] = {{prmFd, POLLIN, 0}, {prmStop.Fd(), POLLIN, 0}};
  if (poll(p, 2, -1) <= 0 || p[1].revents != 0) return -1;
  if (prmSsl == nullptr) return read(prmFd, prmBuf, prmLen);
  int n = SSL_read(prmSsl, prmBuf, static_cast<int>(prmLen));
  return n > 0 ? n : -1;
}

}  // namespace

bool THttpTestServer::ReadRequest(int prmFd, SSL* prmSsl, TRecordedRequest& prmReq) {
  std::string data;
  char buf[4096];
  size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = ReadSome(prmFd, prmSsl, m_Stop, buf, sizeof(buf));
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
  }
  std::string head = data.substr(0, headEnd + 2);
  size_t pos = head.find("\r\n");
  prmReq.RequestLine = head.substr(0, pos);
  for (pos += 2; pos < head.size();) {
    size_t eol = head.find("\r\n", pos);
    prmReq.Headers.push_back(head.substr(pos, eol - pos));
    pos = eol + 2;
  }
  prmReq.Body = data.substr(headEnd + 4);
  int length = 0;
  TryStrToInt(prmReq.Header("Content-Length"), length);
  while (prmReq.Body.size() < static_cast<size_t>(length)) {
    ssize_t n = ReadSome(prmFd, prmSsl, m_Stop, buf, sizeof(buf));
    if (n <= 0) return false;
    prmReq.Body.append(buf, static_cast<size_t>(n));
  }
  return true;
}

void THttpTestServer::ServeOne(int prmFd) {
  SSL* ssl = nullptr;
  if (m_Ctx != nullptr) {
    ssl = SSL_new(m_Ctx);
    SSL_set_fd(ssl, prmFd);
    if (SSL_accept(ssl) != 1) {
      SSL_free(ssl);
      return;
    }
  }
  TRecordedRequest req;
  if (ReadRequest(prmFd, ssl, req)) {
    std::string reply;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      m_Requests.push_back(req);
      reply = m_Replies.front();
      if (m_Replies.size() > 1) m_Replies.pop_front();
      m_Changed.notify_all();
    }
    if (reply == kSilent) {
      m_Stop.Wait(-1);
    } else if (ssl != nullptr) {
      SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
      SSL_shutdown(ssl);
    } else {
      const bool drip = reply.rfind(kDrip, 0) == 0;
      if (drip) reply.erase(0, std::string(kDrip).size());
      const size_t burst = drip ? reply.find("\r\n\r\n") + 4 : reply.size();
      for (size_t off = 0; off < reply.size();) {
        if (off >= burst && m_Stop.Wait(200)) break;
        const size_t len = off < burst ? burst - off : 1;
        ssize_t n = send(prmFd, reply.data() + off, len, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
      }
      shutdown(prmFd, SHUT_WR);
    }
  }
  if (ssl != nullptr) SSL_free(ssl);
}

}  // namespace vantrel::test
