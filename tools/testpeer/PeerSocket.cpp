#include "testpeer/PeerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "diag/Exceptions.h"
#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

namespace {

sockaddr_in MakeAddr(uint32_t prmAddr, uint16_t prmPort) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(prmPort);
  sa.sin_addr.s_addr = htonl(prmAddr);
  return sa;
}

// Messages go out one TLS record or one piece at a time; waiting to fill segments only adds delay.
void SetNoDelay(int prmFd) {
  int one = 1;
  ::setsockopt(prmFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

int ListenOn(uint32_t prmAddr, uint16_t prmPort, uint16_t& prmBound) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = MakeAddr(prmAddr, prmPort);
  socklen_t len = sizeof sa;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    throw EBaseException("cannot listen on " + FormatDottedQuad(prmAddr) + ":" +
                         std::to_string(prmPort) + " (" + std::strerror(err) + ")");
  }
  prmBound = ntohs(sa.sin_port);
  return fd;
}

int AcceptConnection(int prmListenFd) {
  int fd = ::accept4(prmListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) SetNoDelay(fd);
  return fd;
}

int StartConnect(uint32_t prmAddr, uint16_t prmPort, bool& prmInProgress) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  SetNoDelay(fd);
  sockaddr_in sa = MakeAddr(prmAddr, prmPort);
  int r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (r != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  prmInProgress = r != 0;
  return fd;
}

int PendingError(int prmFd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(prmFd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = MakeAddr(0x7f000001, 0);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

int ConnectLoopback(uint16_t prmPort, bool prmNoDelay) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = MakeAddr(0x7f000001, prmPort);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  if (prmNoDelay) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

}  // namespace vantrel::testpeer
