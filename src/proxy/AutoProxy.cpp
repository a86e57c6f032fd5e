#include "proxy/AutoProxy.h"

#include "diag/DebugLog.h"

namespace vantrel {

bool GetProxyForUrlFromScript(const std::string& prmScriptUrl, const std::string& prmUrl,
                              TAutoProxyAnswer& prmAnswer) {
  prmAnswer = TAutoProxyAnswer{};
  WriteDebugLog("GetProxyForUrlFromScript - proxy scripts not built in: no answer for " + prmUrl +
                " (script " + (prmScriptUrl.empty() ? std::string("wpad") : prmScriptUrl) + ")");
  return false;
}

}  // namespace vantrel
