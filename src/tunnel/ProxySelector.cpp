#include "tunnel/ProxySelector.h"

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyUtils.h"

namespace vantrel {

int ConnectFirstProtocolProxy(IDialogs& prmDialogs, const std::string& prmProxy, int prmProxyPort,
                              const std::string& prmDest, int prmDestPort) {
  int sock = -1;
  ConnectToProxy1(prmProxy, prmProxyPort, prmDest, prmDestPort, {}, {}, {}, sock, prmDialogs);
  if (g_NtlmCtxActive) FreeNtlmContext();
  return sock;
}

int ConnectLegacyProxy(IDialogs& prmDialogs, const std::string& prmProxy, int prmProxyPort,
                       const std::string& prmDest, int prmDestPort) {
  int sock = -1;
  ConnectToProxy(prmProxy, prmProxyPort, prmDest, prmDestPort, {}, {}, {}, sock, prmDialogs);
  return sock;
}

TUniqueFd OpenThroughProxies(const TProxyRoute& prmRoute, const std::string& prmDest,
                             int prmDestPort, const TConnectThroughProxy& prmConnect,
                             const TDetectProxy& prmDetect) {
  try {
    if (prmRoute.Manual)
      return TUniqueFd(prmConnect(prmRoute.Proxy, prmRoute.ProxyPort, prmDest, prmDestPort));
    std::vector<std::string> proxies;
    bool direct = true;
    if (!prmDetect(prmDest, proxies, direct) || direct) return TUniqueFd();
    for (std::string entry : proxies) {
      const int port = ExtractProxyPort2(entry);
      TUniqueFd sock(prmConnect(entry, port, prmDest, prmDestPort));
      if (sock) return sock;
    }
  } catch (const EBaseException& e) {
    WriteDebugLog("InitControlConnection - proxy failed (" + e.GetMsg() + ")");
  } catch (...) {
    WriteDebugLog("InitControlConnection - proxy failed");
  }
  return TUniqueFd();
}

}  // namespace vantrel
