// The network functions behind the script helpers dnsResolve, myIpAddress, isResolvable and
// isInNet: the proxy library hands them to the engine, and the engine uses them when its caller
// gives none. Results and error codes as TAutoProxyHelperFunctions describes.
#pragma once

#include <cstdint>

#include "jsproxy/JsProxyApi.h"

namespace vantrel::pac {

int PacIsResolvable(const char* prmHost);
uint32_t PacGetIPAddress(char* prmAddress, uint32_t* prmSize);
uint32_t PacResolveHostName(const char* prmHost, char* prmAddress, uint32_t* prmSize);
// Dotted IPv4 texts; false when one of them is not an address. 255.255.255.255 is a valid mask.
int PacIsInNet(const char* prmAddress, const char* prmPattern, const char* prmMask);

const TAutoProxyHelperFunctions& PacNetFunctions();

enum : uint32_t {
  kPacOk = 0,
  kPacOutOfMemory = 8,
  kPacBufferTooSmall = 122,
  kPacInternal = 12004,
  kPacNameNotResolved = 12007,
};

}  // namespace vantrel::pac
