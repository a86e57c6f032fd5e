// The socket side of a CONNECT exchange: opening the proxy connection, sending a request, reading
// a reply header and discarding a body. Reading one reply (its header, then its body) has one
// deadline, so a proxy that drips bytes cannot hold the caller; a closed connection ends a read at
// once, and so does the thread's stop request (TProxyStopScope), checked in the same poll as the
// socket. The caller's thread only; nothing here is shared.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>

#include "diag/UniqueFd.h"

namespace vantrel {

// How long reading one reply of the proxy (header and body) may take, from the start of the read.
constexpr int kProxyWaitMs = 30000;

using TProxyDeadline = std::chrono::steady_clock::time_point;
TProxyDeadline ProxyDeadline(int prmWaitMs);

// One of this thread's proxy settings, set while the scope lives and restored after it (scopes
// nest). An attempt takes the settings of the thread that starts it.
class TProxyThreadScope {
 public:
  TProxyThreadScope(const TProxyThreadScope&) = delete;
  TProxyThreadScope& operator=(const TProxyThreadScope&) = delete;

 protected:
  TProxyThreadScope(int& prmSetting, int prmValue);
  ~TProxyThreadScope();

 private:
  int& m_Setting;
  int m_Outer;
};

// The reply reads of the exchanges on this thread take prmWaitMs in place of kProxyWaitMs (tests).
class TProxyWaitScope : TProxyThreadScope {
 public:
  explicit TProxyWaitScope(int prmWaitMs);
};

// Every wait of the exchanges on this thread also ends when prmStopFd turns readable (the waiting
// piece then fails as Stopped).
class TProxyStopScope : TProxyThreadScope {
 public:
  explicit TProxyStopScope(int prmStopFd);
};

// What the scopes above give this thread: its stop request (-1: none) and its reply wait.
int ProxyStopFd();
int ProxyReplyWaitMs();

// Each wait below also ends when prmStopFd turns readable.
// A dotted IPv4 address, or else the first IPv4 address of the name; false when neither works.
bool ResolveProxyAddress(const std::string& prmHost, int prmPort, sockaddr_in& prmAddr,
                         int prmStopFd = ProxyStopFd());
// A TCP connection to prmAddr (bounded by kProxyWaitMs), left blocking; -1 on failure with errno
// set. The socket is closed on failure.
void CreateSocketAndConnect(const sockaddr_in& prmAddr, int& prmSock,
                            int prmStopFd = ProxyStopFd());
bool SendToProxy(int prmSock, const char* prmBytes, size_t prmLen);

// How a read ended.
enum class TProxyRead { Complete, TimedOut, Closed, TooLong, Stopped };

// The header ends at the first blank line (Complete); the text read so far stays in prmReply,
// except for one longer than kMaxProxyHeader, which is dropped (TooLong, prmReply empty).
TProxyRead ReadProxyHeader(int prmSock, TProxyDeadline prmDeadline, std::string& prmReply,
                           int prmStopFd = ProxyStopFd());
// Reads and discards prmCount bytes (Complete once they are gone).
TProxyRead DrainProxyBody(int prmSock, TProxyDeadline prmDeadline, int prmCount,
                          int prmStopFd = ProxyStopFd());

// One call's connection to its proxy: the address resolved once, reused by every reconnection,
// the stop request and reply wait of the thread that made it, and what went wrong, for the
// attempt's one failure line.
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
  const int m_StopFd = ProxyStopFd();
  const int m_WaitMs = ProxyReplyWaitMs();
  std::string m_Host;
  int m_Port = 0;
  sockaddr_in m_Addr{};
  TUniqueFd m_Sock;
  TProxyDeadline m_Deadline{};
  std::string m_Answer;  // the last reply's status and reason, or what was wrong with it
  std::string m_Why;
};

}  // namespace vantrel
