// TCP socket steps shared by the peers and the test servers: all sockets are non-blocking,
// close-on-exec and without send delay, because every peer drives them from one poll() loop.
#pragma once

#include <cstdint>

namespace vantrel::testpeer {

// A listening socket on prmAddr:prmPort (a.b.c.d = a<<24|...; port 0 = any free port); the bound
// port goes to prmBound. Raises EBaseException naming the address and the system error.
int ListenOn(uint32_t prmAddr, uint16_t prmPort, uint16_t& prmBound);

// The next pending connection, or -1 when there is none.
int AcceptConnection(int prmListenFd);

// Starts a connection; -1 when it failed at once. prmInProgress tells whether the caller must
// wait for writability and check SO_ERROR.
int StartConnect(uint32_t prmAddr, uint16_t prmPort, bool& prmInProgress);

// A loopback port that was free a moment ago (bound and released), for a program that must be
// told its port up front, or as a port nobody listens on.
uint16_t FreeLoopbackPort();

// A blocking connection to 127.0.0.1:prmPort for a client that writes and reads in turn, with
// send delay off on request; -1 when it failed.
int ConnectLoopback(uint16_t prmPort, bool prmNoDelay = false);

// The pending error of a connecting socket (0 when it connected).
int PendingError(int prmFd);

}  // namespace vantrel::testpeer
