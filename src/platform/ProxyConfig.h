// The user's proxy settings as the desktop holds them, in the browser's terms: the connection
// flags (1 direct, 2 proxy server, 4 auto-configuration URL, 8 auto-detect), the per-scheme
// server text ("http=h:p;https=h:p"), the ";"-separated bypass text and the script URL. Read
// from the environment (https_proxy, http_proxy, no_proxy, also upper case) and, where GNOME's
// settings are installed, from org.gnome.system.proxy, which wins when its mode is not "none".
#pragma once

#include <map>
#include <memory>
#include <string>

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
// (tests); an empty map means the real one.
std::unique_ptr<IProxyConfigSource> CreateProxyConfigSource(
    std::map<std::string, std::string> prmEnv = {});

}  // namespace vantrel
