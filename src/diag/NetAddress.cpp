#include "diag/NetAddress.h"

#include <charconv>

namespace vantrel {

bool ParseDottedQuad(std::string_view prmText, uint32_t& prmAddr) {
  uint32_t addr = 0;
  const char* p = prmText.data();
  const char* end = p + prmText.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return false;
      ++p;
    }
    // from_chars would take a sign: only digits may start a part.
    if (p == end || *p < '0' || *p > '9') return false;
    unsigned v = 0;
    auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || next - p > 3 || v > 255) return false;
    addr = addr << 8 | v;
    p = next;
  }
  if (p != end) return false;
  prmAddr = addr;
  return true;
}

std::string FormatDottedQuad(uint32_t prmAddr) {
  return std::to_string(prmAddr >> 24) + "." + std::to_string((prmAddr >> 16) & 0xFF) + "." +
         std::to_string((prmAddr >> 8) & 0xFF) + "." + std::to_string(prmAddr & 0xFF);
}

std::string FormatNetAddress(uint32_t prmNetAddr) {
  // The first byte in memory is the first part of the text.
  const auto* b = reinterpret_cast<const uint8_t*>(&prmNetAddr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

bool ResolveDotted(const std::string& prmHost, const TTunnelResolver& prmResolve,
                   std::string& prmAddr) {
  if (IsDottedQuad(prmHost)) {
    prmAddr = prmHost;
    return true;
  }
  uint32_t net = prmResolve(prmHost);
  if (!IsResolvedAddress(net)) return false;
  prmAddr = FormatNetAddress(net);
  return true;
}

}  // namespace vantrel
