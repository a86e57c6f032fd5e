// Reading the XenApp service's replies: the result codes of a refusal ("ErrorId") and the
// elements each request's answer is read from. Pure; the reply is any parsed document (an
// invalid one reads as a reply without elements).
#pragma once

#include <cstdint>
#include <string>

#include "diag/Xml.h"

namespace vantrel {

// Result of every service exchange: 0 success, 1 no usable reply (transport, HTTP, XML, an
// unknown "ErrorId"), 2 to 16 the service's refusals in the order of their identifiers.
using TCitrixResult = uint8_t;
constexpr TCitrixResult kCitrixOK = 0;
constexpr TCitrixResult kCitrixNoReply = 1;
constexpr TCitrixResult kCitrixFailedCredentials = 2;
constexpr TCitrixResult kCitrixNoServer = 3;

// True when the reply holds an "ErrorId" element anywhere.
bool HasErrorId(const TXmlDoc& prmReply);
// The code of the reply's first "ErrorId" text, compared without regard to case with
// "failed-credentials" (2) ... "FolderEnumeration-Disabled" (16); anything else gives 1.
TCitrixResult GetErrorCode(const TXmlDoc& prmReply);
// What the user is told of a refused logon or address request (codes 2 to 8); nullptr for the
// other codes, which each caller words itself.
const char* CitrixFailureReason(TCitrixResult prmCode);

// Multi-size icons: some "CapabilityId" of the reply is "multi-image-icons".
bool SupportsMultiSizeIcons(const TXmlDoc& prmReply);

// The answer to an application address request.
struct TCitrixAddress {
  std::string ServerAddress;  // "host:port"; empty when the service gave none
  std::string CGPAddress;
  // "TicketTag" as sent, and split at its first ":" (without one: an empty first part).
  bool HasTicketTag = false;
  std::string TicketTag;
  std::string TicketTag1, TicketTag2;
};
TCitrixAddress ParseAddressReply(const TXmlDoc& prmReply);

// The text of "Ticket"; empty when there is none.
std::string ParseTicketReply(const TXmlDoc& prmReply);

}  // namespace vantrel
