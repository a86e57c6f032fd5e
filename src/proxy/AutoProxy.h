// Proxy auto-configuration for one destination: the script named by a URL (file:// or
// http://), or found by auto-detection (the DNS name "wpad"), evaluated by the proxy-script
// library libjsproxy.so.
#pragma once

#include <string>

namespace vantrel {

struct TAutoProxyAnswer {
  bool Direct = false;    // the script answered "DIRECT" (first item)
  std::string ProxyText;  // otherwise the proxies as "host:port;host:port" in the script's order
};

// prmScriptUrl empty = auto-detect. prmUrl is the URL asked about ("https://" + host). False when
// no script could be fetched or evaluated (a failure is never "direct").
bool GetProxyForUrlFromScript(const std::string& prmScriptUrl, const std::string& prmUrl,
                              TAutoProxyAnswer& prmAnswer);

}  // namespace vantrel
