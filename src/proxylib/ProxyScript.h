// The proxy an auto-configuration script chooses for a host: the stored result of the last
// evaluation when Proxy.ini marks one, otherwise a local copy of the script evaluated by
// libjsproxy.so with the library's network functions, reduced to one host and port.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::proxylib {

// Host texts hold at most 259 characters.
inline constexpr size_t kMaxProxyHost = 259;

// prmText is the answer after its "PROXY" or "SOCKS" word. True when a host was found; a
// bracketed IPv6 host keeps its brackets. Blanks around the host are not part of it.
bool ParseProxyString(const std::string& prmText, std::string& prmHost, uint16_t& prmPort);

// The first entry of an engine answer: true with host and port for a PROXY or SOCKS entry,
// false for DIRECT or anything malformed.
bool ParseScriptAnswer(const std::string& prmAnswer, std::string& prmHost, uint16_t& prmPort);

// prmScriptUrl: "file://" + path, or a plain path; "http://" URLs are not fetched here.
// prmHost: the destination host (8-bit text). False when no host and port were produced.
bool ParseProxyHostAndPortForURL(const std::string& prmScriptUrl, const std::string& prmHost,
                                 std::string& prmProxyHost, uint16_t& prmProxyPort);

// Where a script is copied before evaluation: the folder of Proxy.ini + "/proxy.pac".
std::string TempScriptPath();

}  // namespace vantrel::proxylib
