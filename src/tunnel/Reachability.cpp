#include "tunnel/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "platform/Event.h"

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

struct TSslDeleter {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
  void operator()(SSL* p) const { SSL_free(p); }
};

bool Handshake(int prmSock, const TEvent& prmStop,
               std::chrono::steady_clock::time_point prmDeadline) {
  std::unique_ptr<SSL_CTX, TSslDeleter> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return false;
  // Reachability only: the gateway's own versions, whatever they are, count as an answer.
  SSL_CTX_set_security_level(ctx.get(), 0);
  std::unique_ptr<SSL, TSslDeleter> ssl(SSL_new(ctx.get()));
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
  if (prmAddr.empty() || inet_pton(AF_INET, prmAddr.c_str(), &addr.sin_addr) != 1) return false;
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return false;
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
  close(s);
  return ok;
}

}  // namespace vantrel
