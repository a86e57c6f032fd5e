#include "citrix/CGPSendFilter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vantrel {

bool CGPSendFilter(uint8_t* prmBuf, uint32_t prmLen) {
  constexpr std::string_view kLoopback = "127.0.0.1:";
  constexpr std::string_view kIcaPort = "1494";
  if (prmBuf == nullptr) return false;
  const uint8_t* begin = prmBuf;
  const uint8_t* end = prmBuf + prmLen;
  const uint8_t* at = std::search(begin, end, kLoopback.begin(), kLoopback.end());
  if (at == end || static_cast<size_t>(end - at) < kLoopback.size() + kIcaPort.size()) return false;
  uint8_t* port = prmBuf + (at - begin) + kLoopback.size();
  std::memcpy(port, kIcaPort.data(), kIcaPort.size());
  uint8_t* after = port + kIcaPort.size();
  if (after < end && *after >= '0' && *after <= '9') *after = 0;
  return true;
}

}  // namespace vantrel
