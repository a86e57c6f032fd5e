// What the desktop's proxy settings give for a host, recorded in Proxy.ini: the settings as
// read, and, when they name an auto-configuration script, the proxy the script chooses.
#pragma once

#include <memory>
#include <string>

#include "platform/ProxyConfig.h"

namespace vantrel::proxylib {

class CBrowserProxySetting {
 public:
  // prmSource null = the desktop's settings (platform/ProxyConfig).
  explicit CBrowserProxySetting(std::unique_ptr<IProxyConfigSource> prmSource = nullptr);

  // The settings with each text cut to its record length; false when they could not be read.
  bool OnDetectProxySetting(TProxyConfig& prmSettings);
  // The proxy text for prmHost: "host:port" of the script's choice when the settings name a
  // script (":" when it failed), else the settings' server text unchanged. Empty when Proxy.ini
  // cannot be created.
  std::string OnSave(const std::string& prmHost);
  // Resets the detection keys of an existing Proxy.ini; nothing when there is none.
  static void OnClear();

 private:
  std::unique_ptr<IProxyConfigSource> m_Source;
};

}  // namespace vantrel::proxylib
