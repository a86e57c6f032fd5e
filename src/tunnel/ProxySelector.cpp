#include "tunnel/ProxySelector.h"

#include "diag/DebugLog.h"

namespace vantrel {

bool CDirectProxySelector::SelectProxies(const std::string& prmHost,
                                         std::vector<std::string>& prmProxies) {
  prmProxies.clear();
  WriteDebugLog("SelectProxies - no proxy discovery built in: direct to " + prmHost);
  return true;
}

int NoProxyConnect(const std::string& prmProxy, int prmProxyPort, const std::string&, int) {
  WriteDebugLog("ConnectToProxy - proxy traversal not built in: " + prmProxy + ":" +
                std::to_string(prmProxyPort) + " not used, going direct");
  return -1;
}

}  // namespace vantrel
