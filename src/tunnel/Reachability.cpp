#include "tunnel/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "diag/NetAddress.h"
#include "diag/UniqueFd.h"
#include "platform/Event.h"
#include "tls/TlsHandle.h"

namespace vantrel {

namespace {

// Waits for prmEvents on prmSock or the stop event; false on timeout or stop.
bool WaitSock(int prmSock, short prmEvents, const TEvent& prmStop,
              std::chrono::steady_clock::time_point prmDeadline) {
  for (;;) {
    pollfd fds[2] = {{prmSock, prmEvents, 0}, {prmStop.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, MsLeft(prmDeadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (fds[1].revents & POLLIN)) return false;
    return true;
  }
}

// The pause between attempts; true when prmStop was set meanwhile.
bool StopWithin(const TEvent& prmStop, int prmMs) {
  pollfd fd{prmStop.Fd(), POLLIN, 0};
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmMs);;) {
    int r = poll(&fd, 1, MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

bool Handshake(int prmSock, const TEvent& prmStop,
               std::chrono::steady_clock::time_point prmDeadline) {
  TSslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return false;
  // Reachability only: the gateway's own versions, whatever they are, count as an answer.
  SSL_CTX_set_security_level(ctx.get(), 0);
  TSslPtr ssl(SSL_new(ctx.get()));
  if (!ssl || SSL_set_fd(ssl.get(), prmSock) != 1) return false;
  for (;;) {
    int r = SSL_connect(ssl.get());
    if (r == 1) return true;
    int err = SSL_get_error(ssl.get(), r);
    short ev = err == SSL_ERROR_WANT_READ ? POLLIN : err == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (ev == 0 || !WaitSock(prmSock, ev, prmStop, prmDeadline)) return false;
  }
}

}  // namespace

bool ProbeGatewayTls(const std::string& prmAddr, int prmPort, const TEvent& prmStop,
                     int prmTimeoutMs) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(prmPort));
  uint32_t host = 0;
  if (!ParseDottedQuad(prmAddr, host)) return false;
  addr.sin_addr.s_addr = htonl(host);
  TUniqueFd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!sock) return false;
  const int s = sock.Get();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  bool ok = false;
  int r = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (r == 0 || errno == EINPROGRESS) {
    int soErr = 0;
    socklen_t len = sizeof soErr;
    ok = (r == 0 || (WaitSock(s, POLLOUT, prmStop, deadline) &&
                     getsockopt(s, SOL_SOCKET, SO_ERROR, &soErr, &len) == 0 && soErr == 0)) &&
         Handshake(s, prmStop, deadline);
  }
  return ok;
}

bool HasDefaultRoute(const std::string& prmTable, bool prmIPv6) {
  std::istringstream in(prmTable);
  std::string line;
  if (!prmIPv6) std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string iface, dest, gateway, flags;
    if (prmIPv6) {
      // dest prefix src prefix next-hop metric refcnt use flags iface, all in hexadecimal
      std::string prefix, skip;
      f >> dest >> prefix >> skip >> skip >> skip >> skip >> skip >> skip >> flags >> iface;
      if (dest != std::string(32, '0') || prefix != "00") continue;
    } else {
      f >> iface >> dest >> gateway >> flags;
      if (dest != "00000000") continue;
    }
    if (!f || iface == "lo") continue;
    constexpr unsigned long kRouteUp = 0x1;
    if (std::strtoul(flags.c_str(), nullptr, 16) & kRouteUp) return true;
  }
  return false;
}

bool HasNetworkConnection() {
  auto table = [](const char* prmPath) {
    std::ifstream f(prmPath);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
  };
  return HasDefaultRoute(table("/proc/net/route"), false) ||
         HasDefaultRoute(table("/proc/net/ipv6_route"), true);
}

bool WaitGatewayOnline(const std::string& prmAddr, int prmPort, const TEvent& prmStop,
                       const TOnlineCheck& prmCheck) {
  uint32_t host = 0;
  if (!ParseDottedQuad(prmAddr, host)) return false;
  // A gateway on this computer needs no network.
  const bool local = (host >> 24) == 127;
  for (int attempt = 0; attempt < prmCheck.Attempts;) {
    if (StopWithin(prmStop, prmCheck.PauseMs)) return false;
    if (!local && !prmCheck.Network()) continue;
    if (ProbeGatewayTls(prmAddr, prmPort, prmStop, prmCheck.ProbeTimeoutMs)) return true;
    ++attempt;
  }
  return false;
}

}  // namespace vantrel
