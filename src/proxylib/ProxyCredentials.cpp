#include "proxylib/ProxyCredentials.h"

#include <cerrno>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "platform/DataProtection.h"
#include "proxylib/ProxyIni.h"
#include "proxylog/Loglib.h"

namespace vantrel::proxylib {

namespace {

using proxylog::kLevelError;
using proxylog::kLevelWarning;

constexpr char kDescription[] = "KelvorVPN";

std::string Unprotect(const std::string& prmStored) {
  try {
    TBytes blob = Base64Decode(prmStored);
    std::string data;
    if (!UnprotectData(std::string(blob.begin(), blob.end()), data)) return {};
    return data.substr(0, data.find('\0'));
  } catch (const EBaseException&) {
    return {};
  }
}

}  // namespace

bool SaveProxyInfo(const std::string& prmUser, const std::string& prmPassword,
                   const std::string& prmDomain) {
  // UTF-8 as the program holds it: an 8-bit code set would lose characters it cannot hold.
  std::string data = prmPassword + '\0';
  std::string blob, stored;
  if (ProtectData(data, kDescription, blob)) stored = Base64Encode(blob);
  if (!CreateProxyIniFile()) return false;
  CProxyIni ini;
  ini.WriteText(kOutsideProxyConfig, "UserName", prmUser);
  ini.WriteText(kOutsideProxyConfig, "PassWord", stored);
  ini.WriteText(kOutsideProxyConfig, "Domain", prmDomain);
  if (!ini.Save())
    PROXY_LOG(kLevelError, "SaveProxyInfo: failed to write to disk, error is %d", errno);
  return true;
}

bool GetProxyInfo(std::string& prmUser, std::string& prmPassword, std::string& prmDomain) {
  if (!ProxyIniExists()) return false;
  CProxyIni ini;
  prmUser = ini.ReadText(kOutsideProxyConfig, "UserName", "", 260);
  std::string stored = ini.ReadText(kOutsideProxyConfig, "PassWord", "", 1040);
  prmDomain = ini.ReadText(kOutsideProxyConfig, "Domain", "", 260);
  prmPassword = stored.empty() ? std::string() : Unprotect(stored);
  if (prmUser.empty() && prmPassword.empty()) {
    PROXY_LOG(kLevelWarning, "GetProxyInfo: username and password are null");
    return false;
  }
  return true;
}

}  // namespace vantrel::proxylib
