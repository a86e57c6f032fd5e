// Proxy discovery for the gateway host and the run-time bindings to the companion libraries:
// the proxy support library (libVantrelProxy.so: proxy answers, saved proxy credentials) and the
// NTLM message builder (libBrelntlm.so). Both are loaded by file name for each use; without
// them every operation here gives its failure result and the tunnel goes direct.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ProxyConfig.h"

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

// The desktop's settings for the gateway host: false when they could not be read, or when
// automatic configuration failed and the proxy support library had no answer either. True with
// prmDirect, or with the entries to try in order.
bool DetectProxyForHost(const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect);
// The same over a given settings source and proxy-library question (tests).
bool DetectProxyForHost(IProxyConfigSource& prmSource,
                        const std::function<std::string(const std::string&)>& prmAskLibrary,
                        const std::string& DestHost, std::vector<std::string>& prmProxyList,
                        bool& prmDirect);
// Exact, case-insensitive match of the host against one of the ";"-separated entries.
bool IsInBypassList(const std::string& prmHost, const std::string& prmBypassList);
// The port of an entry ("https=" item first, then "http=", scheme dropped; 80 without one); the
// entry is left holding the host.
int ExtractProxyPort2(std::string& prmEntry);

// The companion library's file in the control's own directory, else in the install prefix's
// library directory; empty when neither holds it (the bare name then goes to the loader).
std::string GetDllFilePath(int prmKind);
// The directory (with its trailing "/") of the control's own library file. No browser hosts the
// control on Linux, so the flag selects nothing different.
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
