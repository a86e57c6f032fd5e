#include "tunnel/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

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

}  // namespace vantrel
