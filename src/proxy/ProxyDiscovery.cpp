#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "proxy/AutoProxy.h"
#include "proxy/ProxyUtils.h"

namespace vantrel {
namespace {

// Cut at every ";"; the text after the last one is an entry too, also when empty.
std::vector<std::string> SplitProxyText(const std::string& prmText) {
  std::vector<std::string> out;
  for (size_t start = 0;;) {
    size_t end = prmText.find(';', start);
    out.push_back(prmText.substr(start, end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

bool DetectAutomatic(const TProxyConfig& prmCfg,
                     const std::function<std::string(const std::string&)>& prmAskLibrary,
                     const std::string& DestHost, std::vector<std::string>& prmProxyList,
                     bool& prmDirect) {
  bool byUrl = (prmCfg.Flags & kProxyFlagAutoProxyUrl) && !prmCfg.AutoConfigUrl.empty();
  TAutoProxyAnswer answer;
  if (!GetProxyForUrlFromScript(byUrl ? prmCfg.AutoConfigUrl : std::string(), "https://" + DestHost,
                                answer)) {
    WriteDebugLog("WinHttpGetProxyForUrl error Code: no script answer for " + DestHost);
    std::string proxy = prmAskLibrary(DestHost);
    if (proxy.empty()) return false;
    prmProxyList = {proxy};
    prmDirect = false;
    return true;
  }
  // The user's own bypass list holds here too: a host they exempted stays direct whatever the
  // script says.
  if (answer.Direct || IsInBypassList(DestHost, prmCfg.Bypass)) {
    prmDirect = true;
  } else {
    prmDirect = false;
    prmProxyList = SplitProxyText(answer.ProxyText);
  }
  return true;
}

}  // namespace

bool DetectProxyForHost(IProxyConfigSource& prmSource,
                        const std::function<std::string(const std::string&)>& prmAskLibrary,
                        const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect) {
  prmProxyList.clear();
  prmDirect = false;
  TProxyConfig cfg;
  if (!prmSource.Read(cfg)) return false;
  if ((cfg.Flags & kProxyFlagAutoDetect) ||
      ((cfg.Flags & kProxyFlagAutoProxyUrl) && !cfg.AutoConfigUrl.empty()))
    return DetectAutomatic(cfg, prmAskLibrary, DestHost, prmProxyList, prmDirect);
  if ((cfg.Flags & kProxyFlagProxy) && !cfg.Server.empty() &&
      !IsInBypassList(DestHost, cfg.Bypass)) {
    prmProxyList = SplitProxyText(cfg.Server);
    return true;
  }
  prmDirect = true;
  return true;
}

bool DetectProxyForHost(const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect) {
  auto source = CreateProxyConfigSource();
  return DetectProxyForHost(*source, GetProxyInfoFromDll, DestHost, prmProxyList, prmDirect);
}

bool IsInBypassList(const std::string& prmHost, const std::string& prmBypassList) {
  std::string host = UpperCase(prmHost);
  for (const std::string& entry : SplitProxyText(prmBypassList))
    if (UpperCase(entry) == host) return true;
  return false;
}

int ExtractProxyPort2(std::string& prmEntry) {
  if (size_t p = prmEntry.find("https="); p != std::string::npos)
    prmEntry.erase(0, p + 6);
  else if (p = prmEntry.find("http="); p != std::string::npos)
    prmEntry.erase(0, p + 5);
  if (size_t p = prmEntry.find("://"); p != std::string::npos) prmEntry.erase(0, p + 3);
  size_t colon = prmEntry.find(':');
  if (colon == std::string::npos) return 80;
  // A run of digits too long for a port counts as none rather than wrapping into another port.
  int port = 0;
  size_t i = colon + 1;
  for (; i < prmEntry.size() && prmEntry[i] >= '0' && prmEntry[i] <= '9' && port <= 65535; ++i)
    port = port * 10 + (prmEntry[i] - '0');
  prmEntry.erase(colon);
  return i == colon + 1 || port > 65535 ? 80 : port;
}

}  // namespace vantrel
