#include "proxylib/BrowserProxySetting.h"

#include <cerrno>

#include "diag/TextCodecs.h"
#include "proxylib/ProxyIni.h"
#include "proxylib/ProxyScript.h"
#include "proxylog/Loglib.h"

namespace vantrel::proxylib {

using proxylog::kLevelError;

CBrowserProxySetting::CBrowserProxySetting(std::unique_ptr<IProxyConfigSource> prmSource)
    : m_Source(prmSource ? std::move(prmSource) : CreateProxyConfigSource()) {}

bool CBrowserProxySetting::OnDetectProxySetting(TProxyConfig& prmSettings) {
  prmSettings = TProxyConfig{};
  if (!m_Source->Read(prmSettings)) {
    prmSettings = TProxyConfig{};
    PROXY_LOG(kLevelError, "OnDetectProxySetting: InternetQueryOption failed, error is %d", errno);
    return false;
  }
  prmSettings.AutoConfigUrl.resize(std::min<size_t>(prmSettings.AutoConfigUrl.size(), 1024));
  prmSettings.Server.resize(std::min<size_t>(prmSettings.Server.size(), 1024));
  prmSettings.Bypass.resize(std::min<size_t>(prmSettings.Bypass.size(), 4096));
  return true;
}

std::string CBrowserProxySetting::OnSave(const std::string& prmHost) {
  TProxyConfig settings;
  bool scriptRunning = false;
  std::string host, port;
  if (OnDetectProxySetting(settings) && (settings.Flags & kProxyFlagAutoProxyUrl)) {
    scriptRunning = true;
    uint16_t found = 0;
    if (ParseProxyHostAndPortForURL(ToAnsi(settings.AutoConfigUrl), ToAnsi(prmHost), host, found)) {
      host = FromAnsi(host);
      port = std::to_string(found);
    } else {
      host.clear();
    }
  }
  if (!CreateProxyIniFile()) return {};
  CProxyIni ini;
  const char* s = kOutsideProxyConfig;
  ini.WriteInt(s, "IE_Proxy_Auto_Flag", settings.AutoDiscoveryFlags);
  ini.WriteInt(s, "IE_Proxy_Flag", settings.Flags == 0 ? 1 : settings.Flags);
  ini.WriteText(s, "IE_Proxy_Script", settings.AutoConfigUrl);
  ini.WriteText(s, "IE_Proxy_Server", settings.Server);
  ini.WriteText(s, "IE_Proxy_ByPass", settings.Bypass);
  ini.WriteInt(s, "IE_Proxy_Should_Resume", 0);
  ini.WriteInt(s, "Proxy_Script_Running", scriptRunning ? 1 : 0);
  ini.WriteText(s, "Proxy_SSL_Host", host);
  ini.WriteText(s, "Proxy_SSL_Port", port);
  std::string text = scriptRunning ? host + ":" + port : settings.Server;
  if (!ini.Save())
    PROXY_LOG(kLevelError, "CBrowserProxySetting::OnSave: failed to write to disk, error is %d",
              errno);
  return text;
}

void CBrowserProxySetting::OnClear() {
  if (!ProxyIniExists()) return;
  CProxyIni ini;
  const char* s = kOutsideProxyConfig;
  for (const char* key :
       {"IE_Proxy_Auto_Flag", "Proxy_Script_Running", "FF_Browser_Running", "FF_Proxy_Flag"})
    ini.WriteInt(s, key, 0);
  ini.WriteInt(s, "IE_Proxy_Flag", 1);
  for (const char* key :
       {"IE_Proxy_Script", "IE_Proxy_Server", "IE_Proxy_ByPass", "Proxy_SSL_Host", "Proxy_SSL_Port",
        "FF_Proxy_Script", "FF_Proxy_Server", "FF_Proxy_ByPass"})
    ini.WriteText(s, key, "");
  ini.Save();
}

}  // namespace vantrel::proxylib
