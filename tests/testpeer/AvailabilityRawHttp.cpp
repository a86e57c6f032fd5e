#include "AvailabilityRawHttp.h"

#include <sys/socket.h>

#include <cerrno>

#include "diag/TextCodecs.h"

namespace vantrel::testpeer::test {

std::string TRawReply::Header(const std::string& prmName) const {
  for (const auto& [n, v] : Headers)
    if (SameText(n, prmName)) return v;
  return {};
}

bool TRawHttp::Connect(uint16_t prmPort) {
  bool ok = m_Tcp.ConnectTcpOnly(prmPort);
  m_Fd = m_Tcp.Fd();
  return ok;
}

bool TRawHttp::Send(const std::string& prmBytes) {
  size_t at = 0;
  while (at < prmBytes.size()) {
    ssize_t n = ::send(m_Fd, prmBytes.data() + at, prmBytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

std::string TRawHttp::ReadToEnd() {
  std::string out = std::move(m_Pending);
  m_Pending.clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::recv(m_Fd, buf, sizeof buf, 0);
    if (n <= 0) break;  // closed, reset or the 10 s receive timeout
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::optional<TRawReply> TRawHttp::ReadReply() {
  char buf[8192];
  for (;;) {
    size_t end = m_Pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      TRawReply r = ParseRawReply(m_Pending.substr(0, end + 4));
      int len = 0;
      if (!TryStrToInt(r.Header("Content-Length"), len) || len < 0) return std::nullopt;
      if (m_Pending.size() >= end + 4 + static_cast<size_t>(len)) {
        r.Body = m_Pending.substr(end + 4, static_cast<size_t>(len));
        m_Pending.erase(0, end + 4 + static_cast<size_t>(len));
        return r;
      }
    }
    ssize_t n = ::recv(m_Fd, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    m_Pending.append(buf, static_cast<size_t>(n));
  }
}

bool TRawHttp::WaitClosed() {
  char c;
  ssize_t n = ::recv(m_Fd, &c, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

TRawReply ParseRawReply(const std::string& prmText) {
  TRawReply r;
  size_t end = prmText.find("\r\n\r\n");
  if (end == std::string::npos || prmText.compare(0, 9, "HTTP/1.1 ") != 0) return r;
  size_t eol = prmText.find("\r\n");
  if (!TryStrToInt(prmText.substr(9, 3), r.Status)) return r;
  size_t at = eol + 2;
  while (at < end) {
    size_t next = prmText.find("\r\n", at);
    std::string line = prmText.substr(at, next - at);
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      r.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    at = next + 2;
  }
  r.Body = prmText.substr(end + 4);
  return r;
}

std::string Get(const std::string& prmTarget, bool prmClose) {
  return "GET " + prmTarget + " HTTP/1.1\r\nHost: 127.0.0.1:9090\r\n" +
         (prmClose ? "Connection: close\r\n" : "") + "\r\n";
}

std::string Post(const std::string& prmTarget, const std::string& prmBody, bool prmClose) {
  return "POST " + prmTarget + " HTTP/1.1\r\nHost: 127.0.0.1:9090\r\nContent-Type: text/xml\r\n" +
         (prmClose ? "Connection: close\r\n" : "") +
         "Content-Length: " + std::to_string(prmBody.size()) + "\r\n\r\n" + prmBody;
}

TRawReply Exchange(uint16_t prmPort, const std::string& prmRequest) {
  TRawHttp c;
  if (!c.Connect(prmPort) || !c.Send(prmRequest)) return {};
  return ParseRawReply(c.ReadToEnd());
}

}  // namespace vantrel::testpeer::test
