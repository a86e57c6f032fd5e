#include "proxy/ProxyUtils.h"

#include "diag/DebugLog.h"

// Placeholder bodies: no discovery and no companion libraries yet, so every answer is the
// failure result and the caller connects directly.
namespace vantrel {

std::string g_ProxyUser;
std::string g_ProxyPassword;
std::string g_ProxyDomain;
void* g_ctx = nullptr;
bool g_NtlmCtxActive = false;

bool DetectProxyForHost(const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect) {
  prmProxyList.clear();
  prmDirect = true;
  WriteDebugLog("DetectProxyForHost - no proxy discovery built in: direct to " + DestHost);
  return true;
}

bool IsInBypassList(const std::string&, const std::string&) {
  return false;
}
int ExtractProxyPort2(std::string&) {
  return 80;
}
std::string GetDllFilePath(int) {
  return {};
}
std::string GetCurDllFileDir(bool) {
  return {};
}
std::string GetProxyInfoFromDll(const std::string&) {
  return {};
}
bool GetUserProxyAuthInfoFromDll() {
  return false;
}
bool SaveProxyUserAuthInfo(const std::string&, const std::string&, const std::string&) {
  return false;
}
std::string GetNegotiateMsg(const std::string&, const std::string&, const std::string&,
                            const std::string&) {
  return {};
}
std::string GetAuthMsg(const std::string&, int) {
  return {};
}
bool FreeNtlmContext() {
  return true;
}

}  // namespace vantrel
