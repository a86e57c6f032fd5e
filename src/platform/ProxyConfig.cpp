#include "platform/ProxyConfig.h"

#include <cstdlib>

namespace vantrel {
namespace {

// "http://user:pw@host:port/" -> "host:port"; the scheme, credentials and path do not belong in
// a server text.
std::string HostPortOf(std::string prmUrl) {
  if (auto p = prmUrl.find("://"); p != std::string::npos) prmUrl.erase(0, p + 3);
  if (auto p = prmUrl.find('/'); p != std::string::npos) prmUrl.erase(p);
  if (auto p = prmUrl.rfind('@'); p != std::string::npos) prmUrl.erase(0, p + 1);
  return prmUrl;
}

class CEnvProxyConfigSource : public IProxyConfigSource {
 public:
  explicit CEnvProxyConfigSource(std::map<std::string, std::string> prmEnv)
      : m_Env(std::move(prmEnv)) {}

  bool Read(TProxyConfig& prmConfig) override {
    prmConfig = TProxyConfig{};
    std::string http = HostPortOf(Get("http_proxy"));
    std::string https = HostPortOf(Get("https_proxy"));
    std::string server;
    if (!http.empty()) server = "http=" + http;
    // Appended piece by piece: gcc 12 misreads the joined temporaries under -Wrestrict.
    if (!https.empty()) {
      if (!server.empty()) server += ';';
      server += "https=";
      server += https;
    }
    if (server.empty()) return true;
    prmConfig.Flags = kProxyFlagDirect | kProxyFlagProxy;
    prmConfig.Server = server.substr(0, 1024);
    std::string bypass = Get("no_proxy");
    for (char& c : bypass)
      if (c == ',') c = ';';
    prmConfig.Bypass = bypass.substr(0, 4096);
    return true;
  }

 private:
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
};

}  // namespace

std::unique_ptr<IProxyConfigSource> CreateProxyConfigSource(
    std::map<std::string, std::string> prmEnv) {
  return std::make_unique<CEnvProxyConfigSource>(std::move(prmEnv));
}

}  // namespace vantrel
