// How the control connection finds its way to the gateway: the manual proxy first, else the
// proxies discovered for the gateway's host in their order; the caller connects directly when
// none of them gives a tunnel. Runs on the opener's thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "diag/UniqueFd.h"
#include "platform/Dialogs.h"

namespace vantrel {

// One CONNECT attempt through prmProxy:prmProxyPort to prmDest:prmDestPort: the socket or -1.
using TConnectThroughProxy = std::function<int(const std::string& prmProxy, int prmProxyPort,
                                               const std::string& prmDest, int prmDestPort)>;
// Proxy discovery for a host (DetectProxyForHost's contract).
using TDetectProxy = std::function<bool(const std::string& prmHost,
                                        std::vector<std::string>& prmProxies, bool& prmDirect)>;

// The first protocol's attempt: ConnectToProxy1, then the release of an NTLM context it left open.
int ConnectFirstProtocolProxy(IDialogs& prmDialogs, const std::string& prmProxy, int prmProxyPort,
                              const std::string& prmDest, int prmDestPort);
// The legacy protocol's attempt: ConnectToProxy.
int ConnectLegacyProxy(IDialogs& prmDialogs, const std::string& prmProxy, int prmProxyPort,
                       const std::string& prmDest, int prmDestPort);

struct TProxyRoute {
  bool Manual = false;  // a proxy was set by hand: it is the only one tried
  std::string Proxy;
  int ProxyPort = 80;
};

// The tunnelled socket, or none: then the caller connects directly. Never raises.
TUniqueFd OpenThroughProxies(const TProxyRoute& prmRoute, const std::string& prmDest,
                             int prmDestPort, const TConnectThroughProxy& prmConnect,
                             const TDetectProxy& prmDetect);

}  // namespace vantrel
