// The companion-library bindings of ProxyUtils.h over an explicit library file, so a test can
// point them at a library of its own. Loaded with dlopen for each call and unloaded after it,
// except the NTLM library, which stays loaded while its context (g_ctx) is open.
// Called on the tunnel opener's thread, one call at a time.
#pragma once

#include <string>

namespace vantrel {

// GetDllFilePath's answer, else the bare file name for the loader's own search.
std::string CompanionLibrary(int prmKind);

std::string GetProxyInfoFromLib(const std::string& prmLib, const std::string& prmHost);
bool GetUserProxyAuthInfoFromLib(const std::string& prmLib);
bool SaveProxyUserAuthInfoToLib(const std::string& prmLib, const std::string& prmUser,
                                const std::string& prmPassword, const std::string& prmDomain);

std::string GetNegotiateMsgFromLib(const std::string& prmLib, const std::string& prmServer,
                                   const std::string& prmDomain, const std::string& prmUser,
                                   const std::string& prmPassword);
std::string GetAuthMsgFromLib(const std::string& prmLib, const std::string& prmChallenge,
                              int prmOption);

}  // namespace vantrel
