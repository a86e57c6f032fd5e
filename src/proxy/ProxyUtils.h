// Proxy discovery for the gateway host and the run-time bindings to the companion libraries:
// the proxy support library (libVantrelProxy.so: proxy answers, saved proxy credentials) and the
// NTLM message builder (libBrelntlm.so). Both are loaded by file name for each use; without
// them every operation here gives its failure result and the tunnel goes direct.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// Companion-library kinds of GetDllFilePath.
enum : int { kProxyDll = 1, kNtlmDll = 2, kNtlmXpDll = 3 };

// Saved proxy credentials, filled by GetUserProxyAuthInfoFromDll; emptied by ConnectToProxy1.
extern std::string g_ProxyUser;
extern std::string g_ProxyPassword;
extern std::string g_ProxyDomain;

// The NTLM library's context, passed by address to each entry point, and whether one is open.
extern void* g_ctx;
extern bool g_NtlmCtxActive;

bool DetectProxyForHost(const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect);
bool IsInBypassList(const std::string& prmHost, const std::string& prmBypassList);
int ExtractProxyPort2(std::string& prmEntry);

std::string GetDllFilePath(int prmKind);
std::string GetCurDllFileDir(bool prmBrowserHost);
std::string GetProxyInfoFromDll(const std::string& prmHost);
bool GetUserProxyAuthInfoFromDll();
bool SaveProxyUserAuthInfo(const std::string& prmUser, const std::string& prmPassword,
                           const std::string& prmDomain);

// Ready to follow "NTLM " in a Proxy-Authorization header; empty on failure.
std::string GetNegotiateMsg(const std::string& prmServer, const std::string& prmDomain,
                            const std::string& prmUser, const std::string& prmPassword);
std::string GetAuthMsg(const std::string& prmChallenge, int prmOption);
bool FreeNtlmContext();

}  // namespace vantrel
