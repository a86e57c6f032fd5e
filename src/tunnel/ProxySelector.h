// How the control connection finds its way to the gateway: the proxy choice for the gateway's
// host and the connect-through-proxy step. Both are seams; the real ones come with the proxy
// subsystem, the defaults here choose the direct path.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantrel {

class IProxySelector {
 public:
  virtual ~IProxySelector() = default;
  // Proxy entries ("host:port") to try in order for prmHost. False, or no entry: go direct.
  virtual bool SelectProxies(const std::string& prmHost, std::vector<std::string>& prmProxies) = 0;
};

class CDirectProxySelector : public IProxySelector {
 public:
  bool SelectProxies(const std::string& prmHost, std::vector<std::string>& prmProxies) override;
};

// Opens a tunnel through the proxy to prmDest:prmDestPort; the connected socket, or -1.
using TConnectThroughProxy = std::function<int(const std::string& prmProxy, int prmProxyPort,
                                               const std::string& prmDest, int prmDestPort)>;

// The step as long as no proxy traversal is built in: always fails (and logs so), so the direct
// path is taken.
int NoProxyConnect(const std::string& prmProxy, int prmProxyPort, const std::string& prmDest,
                   int prmDestPort);

}  // namespace vantrel
