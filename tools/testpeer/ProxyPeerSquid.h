// A real squid proxy for the proxy tests, in the foreground (-N) on a free loopback port, with
// its configuration, logs (access log included), pid file and password file (user alice,
// password right-pass) in a folder of its own that it removes again. Stopped (bounded) by the
// destructor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vantrel::testpeer {

// Configuration lines for the authentication schemes; offered in the order they are given.
extern const char* const kSquidBasic;
extern const char* const kSquidNtlm;  // squid's fake NTLM helper: any credentials pass
// Every reply says "Proxy-Connection: close" and the connection ends after it.
extern const char* const kSquidAlwaysClose;

class TProxyPeerSquid {
 public:
  TProxyPeerSquid(const std::string& prmName, const std::string& prmConfigLines);
  ~TProxyPeerSquid();
  TProxyPeerSquid(const TProxyPeerSquid&) = delete;
  TProxyPeerSquid& operator=(const TProxyPeerSquid&) = delete;

  // Empty once squid accepts connections (within 20 s); otherwise why not, with its log.
  std::string WaitReady() const;
  uint16_t Port() const { return m_Port; }
  // Whether a line of the access log holds prmText within 5 s. Squid writes a CONNECT's line
  // ("... CONNECT host:port user ...") when the tunnel closes.
  bool AccessLogShows(const std::string& prmText) const;

 private:
  std::string m_Dir;
  uint16_t m_Port = 0;
  pid_t m_Pid = -1;
};

}  // namespace vantrel::testpeer
