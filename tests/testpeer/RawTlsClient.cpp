#include "RawTlsClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel::testpeer::test {

namespace {

bool TcpConnect(uint16_t prmPort, int& prmFd) {
  prmFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (prmFd < 0) return false;
  timeval tv{10, 0};
  ::setsockopt(prmFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(prmFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(prmPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(prmFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

uint32_t Addr(const std::string& prmDotted) {
  in_addr a{};
  inet_pton(AF_INET, prmDotted.c_str(), &a);
  return ntohl(a.s_addr);
}

void Put(TBytes& prmOut, uint32_t prmValue, int prmBytes, bool prmBigEndian) {
  for (int i = 0; i < prmBytes; ++i) {
    int shift = prmBigEndian ? 8 * (prmBytes - 1 - i) : 8 * i;
    prmOut.push_back(static_cast<uint8_t>(prmValue >> shift));
  }
}

}  // namespace

TRawTlsClient::TRawTlsClient() {
  // Tests close connections under the peer's feet; a write to them must fail, not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
  m_Ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_security_level(m_Ctx, 0);
  SSL_CTX_set_cipher_list(m_Ctx, "DEFAULT:@SECLEVEL=0");
}

TRawTlsClient::~TRawTlsClient() {
  if (m_Ssl) SSL_free(m_Ssl);
  if (m_Fd >= 0) ::close(m_Fd);
  SSL_CTX_free(m_Ctx);
}

bool TRawTlsClient::ConnectTcpOnly(uint16_t prmPort) {
  return TcpConnect(prmPort, m_Fd);
}

bool TRawTlsClient::Connect(uint16_t prmPort, int prmMaxVersion) {
  if (!TcpConnect(prmPort, m_Fd)) return false;
  SSL_CTX_set_min_proto_version(m_Ctx, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(m_Ctx, prmMaxVersion);
  m_Ssl = SSL_new(m_Ctx);
  SSL_set_fd(m_Ssl, m_Fd);
  return SSL_connect(m_Ssl) == 1;
}

bool TRawTlsClient::Send(const TBytes& prmBytes) {
  return SSL_write(m_Ssl, prmBytes.data(), static_cast<int>(prmBytes.size())) ==
         static_cast<int>(prmBytes.size());
}

std::optional<TBytes> TRawTlsClient::Read(size_t prmCount) {
  TBytes out(prmCount);
  size_t have = 0;
  while (have < prmCount) {
    int r = SSL_read(m_Ssl, out.data() + have, static_cast<int>(prmCount - have));
    if (r <= 0) return std::nullopt;
    have += static_cast<size_t>(r);
  }
  return out;
}

std::optional<TBytes> TRawTlsClient::ReadRecord(size_t prmMax) {
  TBytes out(prmMax);
  int r = SSL_read(m_Ssl, out.data(), static_cast<int>(prmMax));
  if (r <= 0) return std::nullopt;
  out.resize(static_cast<size_t>(r));
  return out;
}

TBytes TRawTlsClient::ReadToEnd() {
  TBytes out;
  uint8_t buf[4096];
  for (;;) {
    int r = SSL_read(m_Ssl, buf, sizeof buf);
    if (r <= 0) return out;
    out.insert(out.end(), buf, buf + r);
  }
}

bool TRawTlsClient::WaitClosed() {
  uint8_t buf[4096];
  for (;;) {
    errno = 0;
    int r = SSL_read(m_Ssl, buf, sizeof buf);
    if (r > 0) continue;
    int e = SSL_get_error(m_Ssl, r);
    // A receive timeout surfaces as a syscall error with EAGAIN: not a close.
    return !(e == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK));
  }
}

TBytes ClientHeader(uint8_t prmCode, const std::string& prmDest, uint16_t prmPort, uint16_t prmId,
                    uint32_t prmLen) {
  TBytes h;
  Put(h, prmCode, 4, false);
  Put(h, Addr(prmDest), 4, false);
  Put(h, prmPort, 2, true);
  Put(h, prmId, 2, true);
  Put(h, prmLen, 4, true);
  return h;
}

TBytes LegacyHeader(uint8_t prmCode, const std::string& prmAddr, uint16_t prmPort, uint16_t prmId,
                    uint32_t prmLen) {
  TBytes h{prmCode};
  Put(h, Addr(prmAddr), 4, true);
  Put(h, prmPort, 2, true);
  Put(h, prmId, 2, true);
  Put(h, prmLen, 4, true);
  return h;
}

TBytes Concat(std::initializer_list<TBytes> prmParts) {
  TBytes out;
  for (const TBytes& p : prmParts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TBytes Hex(const std::string& prmHex) {
  TBytes out;
  for (size_t i = 0; i + 1 < prmHex.size();) {
    if (prmHex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(prmHex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

uint32_t BE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint16_t BE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace vantrel::testpeer::test
