#include "platform/ProxyConfig.h"

#include <cstdlib>

namespace vantrel {
namespace {

constexpr size_t kMaxServer = 1024, kMaxBypass = 4096, kMaxUrl = 1024;

// "http://user:pw@host:port/" -> "host:port"; the scheme, credentials and path do not belong in
// a server text.
std::string HostPortOf(std::string prmUrl) {
  if (auto p = prmUrl.find("://"); p != std::string::npos) prmUrl.erase(0, p + 3);
  if (auto p = prmUrl.find('/'); p != std::string::npos) prmUrl.erase(p);
  if (auto p = prmUrl.rfind('@'); p != std::string::npos) prmUrl.erase(0, p + 1);
  return prmUrl;
}

// "http=a;https=b" from the two items that are set.
std::string ServerText(const std::string& prmHttp, const std::string& prmHttps) {
  std::string server;
  if (!prmHttp.empty()) server = "http=" + prmHttp;
  if (!prmHttps.empty()) server += (server.empty() ? "" : ";") + ("https=" + prmHttps);
  return server.substr(0, kMaxServer);
}

// no_proxy separates with commas and allows blanks around its entries; the bypass text is
// compared entry by entry without trimming, so both go here.
std::string BypassText(const std::string& prmNoProxy) {
  std::string out, entry;
  auto flush = [&] {
    size_t b = entry.find_first_not_of(" \t"), e = entry.find_last_not_of(" \t");
    if (b != std::string::npos) out += (out.empty() ? "" : ";") + entry.substr(b, e - b + 1);
    entry.clear();
  };
  for (char c : prmNoProxy) {
    if (c == ',')
      flush();
    else
      entry += c;
  }
  flush();
  return out.substr(0, kMaxBypass);
}

class CEnvProxyConfigSource : public IProxyConfigSource {
 public:
  CEnvProxyConfigSource(std::map<std::string, std::string> prmEnv, bool prmGnome)
      : m_Env(std::move(prmEnv)), m_Gnome(prmGnome) {}

  bool Read(TProxyConfig& prmConfig) override {
    prmConfig = TProxyConfig{};
    if (TGnomeProxySettings gnome;
        m_Gnome && ReadGnomeProxySettings(gnome) && MapGnomeProxySettings(gnome, prmConfig))
      return true;
    std::string server = ServerText(HostPortOf(Get("http_proxy")), HostPortOf(Get("https_proxy")));
    if (server.empty()) return true;
    prmConfig.Flags = kProxyFlagDirect | kProxyFlagProxy;
    prmConfig.Server = server;
    prmConfig.Bypass = BypassText(Get("no_proxy"));
    return true;
  }

 private:
  // The lower-case name first, as most programs read these.
  std::string Get(const std::string& prmName) const {
    std::string upper;
    for (char c : prmName) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    for (const std::string& name : {prmName, upper}) {
      if (!m_Env.empty()) {
        if (auto it = m_Env.find(name); it != m_Env.end() && !it->second.empty()) return it->second;
      } else if (const char* v = std::getenv(name.c_str()); v && *v) {
        return v;
      }
    }
    return {};
  }

  std::map<std::string, std::string> m_Env;
  bool m_Gnome;
};

std::string HostPort(const std::string& prmHost, int prmPort) {
  if (prmHost.empty()) return {};
  return prmPort > 0 ? prmHost + ":" + std::to_string(prmPort) : prmHost;
}

}  // namespace

bool MapGnomeProxySettings(const TGnomeProxySettings& prmGnome, TProxyConfig& prmConfig) {
  TProxyConfig cfg;
  if (prmGnome.Mode == "manual") {
    cfg.Server = ServerText(HostPort(prmGnome.HttpHost, prmGnome.HttpPort),
                            HostPort(prmGnome.HttpsHost, prmGnome.HttpsPort));
    if (!cfg.Server.empty()) cfg.Flags |= kProxyFlagProxy;
  } else if (prmGnome.Mode == "auto") {
    cfg.AutoConfigUrl = prmGnome.AutoConfigUrl.substr(0, kMaxUrl);
    // Without a script URL GNOME asks the network (WPAD), which is the browser's auto-detect.
    cfg.Flags |= cfg.AutoConfigUrl.empty() ? kProxyFlagAutoDetect : kProxyFlagAutoProxyUrl;
  } else {
    return false;
  }
  for (const std::string& host : prmGnome.IgnoreHosts)
    cfg.Bypass += (cfg.Bypass.empty() ? "" : ";") + host;
  cfg.Bypass = cfg.Bypass.substr(0, kMaxBypass);
  prmConfig = cfg;
  return true;
}

std::unique_ptr<IProxyConfigSource> CreateProxyConfigSource(
    std::map<std::string, std::string> prmEnv) {
  bool gnome = prmEnv.empty();
  return std::make_unique<CEnvProxyConfigSource>(std::move(prmEnv), gnome);
}

}  // namespace vantrel
