// Proxy auto-configuration for one destination: the script named by a URL (file:// or
// http://), or found by auto-detection (the DNS name "wpad"), evaluated by the proxy-script
// library libjsproxy.so. Runs on the tunnel opener's thread; every step is bounded (fetch 10 s,
// script 1 MiB, evaluation a few seconds).
#pragma once

#include <string>

namespace vantrel {

struct TAutoProxyAnswer {
  bool Direct = false;    // the script answered "DIRECT" (first item)
  std::string ProxyText;  // otherwise the proxies as "host:port;host:port" in the script's order
};

// The URL auto-detection fetches.
inline constexpr char kWpadUrl[] = "http://wpad/wpad.dat";

// prmScriptUrl empty = auto-detect. prmUrl is the URL asked about ("https://" + host). False when
// no script could be fetched or evaluated (a failure is never "direct").
bool GetProxyForUrlFromScript(const std::string& prmScriptUrl, const std::string& prmUrl,
                              TAutoProxyAnswer& prmAnswer);

// A script's answer ("PROXY h:p; DIRECT"): PROXY and HTTP items in order, up to the first
// DIRECT; Direct when DIRECT comes first. Items of other kinds (SOCKS, HTTPS) cannot carry a
// CONNECT and are skipped. False when the answer holds neither a usable proxy nor DIRECT.
bool ParsePacAnswer(const std::string& prmText, TAutoProxyAnswer& prmAnswer);

// The script text of a "file://" or "http://" URL: no redirects, at most 1 MiB, 10 s in all,
// never through a proxy. False on any failure, an HTTP status other than 200 included.
bool FetchProxyScript(const std::string& prmScriptUrl, std::string& prmScript);

}  // namespace vantrel
