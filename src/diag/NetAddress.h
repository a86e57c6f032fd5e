// IPv4 text and the "resolved through the tunnel" answers. One parser for dotted quads, used by
// every layer, so an address accepted in one place is accepted everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

// Answers of a name resolution through the tunnel (network byte order otherwise).
constexpr uint32_t kResolveNotFound = 0;
// The gateway has not resolved the name yet (also the answer when the request failed).
constexpr uint32_t kResolveNotYet = 0xFFFFFFFFu;

inline bool IsResolvedAddress(uint32_t prmNetAddr) {
  return prmNetAddr != kResolveNotFound && prmNetAddr != kResolveNotYet;
}

// Exactly four "."-separated decimal parts of one to three digits and at most 255 each: no signs,
// spaces, empty parts or longer digit runs. prmAddr receives the address in host byte order.
bool ParseDottedQuad(std::string_view prmText, uint32_t& prmAddr);
inline bool IsDottedQuad(std::string_view prmText) {
  uint32_t unused = 0;
  return ParseDottedQuad(prmText, unused);
}

// Dotted text of an address in host byte order.
std::string FormatDottedQuad(uint32_t prmAddr);
// Dotted text of an address in network byte order.
std::string FormatNetAddress(uint32_t prmNetAddr);

// Asks the tunnel to resolve a name; returns the address in network byte order or one of the
// values above.
using TTunnelResolver = std::function<uint32_t(const std::string& prmHost)>;

// prmHost as dotted text: a dotted quad is taken as it is, anything else goes to prmResolve.
// False when the name was not resolved (prmAddr is then left alone).
bool ResolveDotted(const std::string& prmHost, const TTunnelResolver& prmResolve,
                   std::string& prmAddr);

}  // namespace vantrel
