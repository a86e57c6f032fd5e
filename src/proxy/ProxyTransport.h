// The socket side of a CONNECT exchange: opening the proxy connection, sending a request, reading
// a reply header and discarding a body. Every wait is bounded by its caller's limit; a closed
// connection ends a read at once, and so does the thread's stop request (TProxyStopScope). The
// caller's thread only; nothing here is shared.
#pragma once

#include <netinet/in.h>

#include <string>

#include "diag/UniqueFd.h"

namespace vantrel {

// How long the procedures wait for each piece of a reply.
constexpr int kProxyWaitMs = 30000;

// While one lives, every wait of the exchanges on its thread also ends when prmStopFd turns
// readable (the waiting piece then fails as if the proxy had closed). Scopes nest.
class TProxyStopScope {
 public:
  explicit TProxyStopScope(int prmStopFd);
  ~TProxyStopScope();
  TProxyStopScope(const TProxyStopScope&) = delete;
  TProxyStopScope& operator=(const TProxyStopScope&) = delete;

 private:
  int m_Outer;
};

// A dotted IPv4 address, or else the first IPv4 address of the name; false when neither works.
bool ResolveProxyAddress(const std::string& prmHost, int prmPort, sockaddr_in& prmAddr);
// A TCP connection to prmAddr (bounded by kProxyWaitMs), left blocking; -1 on failure with errno
// set. The socket is closed on failure.
void CreateSocketAndConnect(const sockaddr_in& prmAddr, int& prmSock);
bool SendToProxy(int prmSock, const char* prmBytes, size_t prmLen);
// True when a wait ran out. The header ends at the first blank line; one longer than
// kMaxProxyHeader is dropped (prmReply then empty).
bool ReadProxyHeader(int prmSock, int prmWaitMs, std::string& prmReply);
// Reads and discards prmCount bytes; true when a wait ran out.
bool DrainProxyBody(int prmSock, int prmWaitMs, int prmCount);

// One call's connection to its proxy: the address resolved once, reused by every reconnection.
class TProxyLink {
 public:
  // Resolves and connects; logs and answers false on failure.
  bool Open(const std::string& prmHost, int prmPort);
  // Closes the current connection and opens a new one to the same address; errno on failure.
  bool Reconnect();
  // Sends prmRequest in the code page of the wire; logs and closes on failure.
  bool Send(const std::string& prmRequest);
  // Reads one reply header and hands back the text.
  std::string ReadHeader();
  void Drain(int prmCount);
  void Close() { m_Sock.Reset(); }
  int Release() { return m_Sock.Release(); }

 private:
  sockaddr_in m_Addr{};
  TUniqueFd m_Sock;
};

}  // namespace vantrel
