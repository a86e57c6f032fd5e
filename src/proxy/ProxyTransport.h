// The socket side of a CONNECT exchange: opening the proxy connection, sending a request, reading
// a reply header and discarding a body. Reading one reply (its header, then its body) has one
// deadline, so a proxy that drips bytes cannot hold the caller; a closed connection ends a read at
// once, and so does the thread's stop request (TProxyStopScope), checked in the same poll as the
// socket. The caller's thread only; nothing here is shared.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <functional>
#include <string>

#include "diag/UniqueFd.h"

namespace vantrel {

// How long reading one reply of the proxy (header and body) may take, from the start of the read.
constexpr int kProxyWaitMs = 30000;

using TProxyDeadline = std::chrono::steady_clock::time_point;
TProxyDeadline ProxyDeadline(int prmWaitMs);

// While one lives, the reply reads of the exchanges on its thread take prmWaitMs in place of
// kProxyWaitMs (tests). Scopes nest.
class TProxyWaitScope {
 public:
  explicit TProxyWaitScope(int prmWaitMs);
  ~TProxyWaitScope();
  TProxyWaitScope(const TProxyWaitScope&) = delete;
  TProxyWaitScope& operator=(const TProxyWaitScope&) = delete;

 private:
  int m_Outer;
};

// While one lives, every wait of the exchanges on its thread also ends when prmStopFd turns
// readable (the waiting piece then fails as Stopped). Scopes nest.
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

// How a read ended.
enum class TProxyRead { Complete, TimedOut, Closed, TooLong, Stopped };

// The header ends at the first blank line (Complete); the text read so far stays in prmReply,
// except for one longer than kMaxProxyHeader, which is dropped (TooLong, prmReply empty).
TProxyRead ReadProxyHeader(int prmSock, TProxyDeadline prmDeadline, std::string& prmReply);
// Reads and discards prmCount bytes (Complete once they are gone).
TProxyRead DrainProxyBody(int prmSock, TProxyDeadline prmDeadline, int prmCount);

// One call's connection to its proxy: the address resolved once, reused by every reconnection,
// and what went wrong, for the attempt's one failure line.
class TProxyLink {
 public:
  // Resolves and connects; logs and answers false on failure.
  bool Open(const std::string& prmHost, int prmPort);
  // Closes the current connection and opens a new one to the same address; errno on failure.
  bool Reconnect();
  // Sends prmRequest in the code page of the wire; logs and closes on failure.
  bool Send(const std::string& prmRequest);
  // Reads one reply header and hands back the text; its deadline also bounds the Drain after it.
  std::string ReadHeader();
  void Drain(int prmCount);
  void Close() { m_Sock.Reset(); }
  int Release() { return m_Sock.Release(); }
  // Why the attempt ends, after what the proxy last answered. Never a credential.
  void Fail(std::string prmWhy) { m_Why = std::move(prmWhy); }
  // "ConnectToProxy - proxy <host>:<port> failed: <answer>; <why>"
  void LogFailure() const;

 private:
  std::string m_Host;
  int m_Port = 0;
  sockaddr_in m_Addr{};
  TUniqueFd m_Sock;
  TProxyDeadline m_Deadline{};
  std::string m_Answer;  // the last reply's status and reason, or what was wrong with it
  std::string m_Why;
};

// One attempt through prmLink: prmRun's socket, or -1 after the attempt's failure line. prmName
// leads the line of an unexpected failure. Never raises.
int RunProxyAttempt(TProxyLink& prmLink, const char* prmName, const std::function<int()>& prmRun);

}  // namespace vantrel
