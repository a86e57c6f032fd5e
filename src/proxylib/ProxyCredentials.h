// The proxy credentials the user chose to keep, in Proxy.ini. The password is protected for
// this user (platform/DataProtection) and kept as Base64; a password that cannot be unprotected
// (damaged, another user's key) reads as empty.
#pragma once

#include <string>

namespace vantrel::proxylib {

// False when Proxy.ini cannot be created; a failed save is only logged.
bool SaveProxyInfo(const std::string& prmUser, const std::string& prmPassword,
                   const std::string& prmDomain);
// True when a user name or a password is on file.
bool GetProxyInfo(std::string& prmUser, std::string& prmPassword, std::string& prmDomain);

}  // namespace vantrel::proxylib
