#include "jsproxy/PacNet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace vantrel::pac {

namespace {

constexpr uint32_t kScratch = 32767;

struct TAddrInfo {
  addrinfo* List = nullptr;
  ~TAddrInfo() {
    if (List) freeaddrinfo(List);
  }
};

}  // namespace

uint32_t PacResolveHostName(const char* prmHost, char* prmAddress, uint32_t* prmSize) {
  if (!prmHost || !prmSize) return kPacNameNotResolved;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST;
  TAddrInfo numeric;
  int rc = getaddrinfo(prmHost, nullptr, &hints, &numeric.List);
  if (rc == 0) {
    uint32_t need = static_cast<uint32_t>(std::strlen(prmHost)) + 1;
    if (!prmAddress || *prmSize < need) {
      *prmSize = need;
      return kPacBufferTooSmall;
    }
    std::memcpy(prmAddress, prmHost, need);
    return kPacOk;
  }
  if (rc != EAI_NONAME) return rc == EAI_MEMORY ? kPacOutOfMemory : kPacNameNotResolved;
  hints.ai_flags = 0;
  hints.ai_family = AF_INET;
  TAddrInfo named;
  rc = getaddrinfo(prmHost, nullptr, &hints, &named.List);
  if (rc != 0) return rc == EAI_MEMORY ? kPacOutOfMemory : kPacNameNotResolved;
  for (addrinfo* ai = named.List; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    if (!prmAddress || getnameinfo(ai->ai_addr, ai->ai_addrlen, prmAddress, *prmSize, nullptr, 0,
                                   NI_NUMERICHOST) != 0)
      return kPacNameNotResolved;
    return kPacOk;
  }
  return kPacNameNotResolved;
}

int PacIsResolvable(const char* prmHost) {
  std::vector<char> scratch(kScratch);
  uint32_t size = kScratch;
  return PacResolveHostName(prmHost, scratch.data(), &size) == kPacOk;
}

uint32_t PacGetIPAddress(char* prmAddress, uint32_t* prmSize) {
  std::vector<char> name(kScratch);
  if (gethostname(name.data(), kScratch - 1) != 0) return kPacInternal;
  return PacResolveHostName(name.data(), prmAddress, prmSize);
}

int PacIsInNet(const char* prmAddress, const char* prmPattern, const char* prmMask) {
  in_addr a{}, p{}, m{};
  if (!prmAddress || !prmPattern || !prmMask || inet_pton(AF_INET, prmAddress, &a) != 1 ||
      inet_pton(AF_INET, prmPattern, &p) != 1 || inet_pton(AF_INET, prmMask, &m) != 1)
    return 0;
  return (a.s_addr & m.s_addr) == p.s_addr;
}

const TAutoProxyHelperFunctions& PacNetFunctions() {
  static const TAutoProxyHelperFunctions kFunctions = {PacIsResolvable, PacGetIPAddress,
                                                       PacResolveHostName, PacIsInNet};
  return kFunctions;
}

}  // namespace vantrel::pac
