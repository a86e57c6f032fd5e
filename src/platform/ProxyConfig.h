// The user's proxy settings as the desktop holds them, in the browser's terms: the connection
// flags (1 direct, 2 proxy server, 4 auto-configuration URL, 8 auto-detect), the per-scheme
// server text ("http=h:p;https=h:p"), the ";"-separated bypass text and the script URL. Read
// from the environment (https_proxy, http_proxy, no_proxy, also upper case) and, where GNOME's
// settings are installed, from org.gnome.system.proxy, which wins when its mode is not "none".
// Called on the tunnel opener's thread; nothing is cached between reads.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

enum : int {
  kProxyFlagDirect = 1,
  kProxyFlagProxy = 2,
  kProxyFlagAutoProxyUrl = 4,
  kProxyFlagAutoDetect = 8,
};

struct TProxyConfig {
  int Flags = kProxyFlagDirect;
  int AutoDiscoveryFlags = 0;  // the browser's own detection record; 0 here
  std::string AutoConfigUrl;   // at most 1,024 characters
  std::string Server;          // at most 1,024 characters
  std::string Bypass;          // at most 4,096 characters
};

class IProxyConfigSource {
 public:
  virtual ~IProxyConfigSource() = default;
  // False when the settings could not be read at all (then nothing is known).
  virtual bool Read(TProxyConfig& prmConfig) = 0;
};

// The environment, then GNOME's settings when present. prmEnv replaces the process environment
// and leaves GNOME's settings out (tests); an empty map means the real environment and GNOME.
std::unique_ptr<IProxyConfigSource> CreateProxyConfigSource(
    std::map<std::string, std::string> prmEnv = {});

// org.gnome.system.proxy as read; ports of 0 mean "not set".
struct TGnomeProxySettings {
  std::string Mode;  // "none", "manual" or "auto"
  std::string AutoConfigUrl;
  std::string HttpHost;
  int HttpPort = 0;
  std::string HttpsHost;
  int HttpsPort = 0;
  std::vector<std::string> IgnoreHosts;
};

// False when GIO or the schema is not installed. GIO is loaded on first use and stays loaded,
// so the control still loads where it is absent.
bool ReadGnomeProxySettings(TGnomeProxySettings& prmOut);
// The browser's terms for GNOME's settings; false for mode "none" (or one not known), where the
// environment applies.
bool MapGnomeProxySettings(const TGnomeProxySettings& prmGnome, TProxyConfig& prmConfig);

}  // namespace vantrel
