#include "citrix/XmlReplies.h"

#include <iterator>

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

// The service's refusal identifiers; the code of entry i is i + 2.
constexpr const char* kErrorIds[] = {"failed-credentials",
                                     "no-server",
                                     "must-change-credentials",
                                     "expired-credentials",
                                     "account-locked-out",
                                     "invalid-logon-hours",
                                     "account-disabled",
                                     "version-mismatch",
                                     "bad-request",
                                     "no-alt-address",
                                     "parser-error",
                                     "unspecified",
                                     "Ticketing-Disabled",
                                     "GroupEnumeration-Disabled",
                                     "FolderEnumeration-Disabled"};

}  // namespace

bool HasErrorId(const TXmlDoc& prmReply) {
  return prmReply.Root().IsValid() &&
         (SameText(prmReply.Root().Name(), "ErrorId") || prmReply.Root().FindFirst("ErrorId"));
}

TCitrixResult GetErrorCode(const TXmlDoc& prmReply) {
  TXmlNode root = prmReply.Root();
  TXmlNode error = SameText(root.Name(), "ErrorId") ? root : root.FindFirst("ErrorId");
  const std::string id = error.Text();
  TCitrixResult code = 2;
  for (const char* known : kErrorIds) {
    if (SameText(id, known)) return code;
    ++code;
  }
  return kCitrixNoReply;
}

const char* CitrixFailureReason(TCitrixResult prmCode) {
  static constexpr const char* kReasons[] = {"Bad credentials",
                                             "Failed to resolve host name",
                                             "Credentials must be changed",
                                             "Credentials expired",
                                             "Account is locked",
                                             "Outside of authorized hours of operation",
                                             "Account is disabled"};
  if (prmCode < 2 || prmCode - 2 >= static_cast<int>(std::size(kReasons))) return nullptr;
  return kReasons[prmCode - 2];
}

bool SupportsMultiSizeIcons(const TXmlDoc& prmReply) {
  for (const TXmlNode& capability : prmReply.Root().FindAll("CapabilityId"))
    if (capability.Text() == "multi-image-icons") return true;
  return false;
}

TCitrixAddress ParseAddressReply(const TXmlDoc& prmReply) {
  TCitrixAddress address;
  TXmlNode root = prmReply.Root();
  address.ServerAddress = root.FindFirst("ServerAddress").Text();
  if (address.ServerAddress.find("0.0.0.0") != std::string::npos) address.ServerAddress.clear();
  if (!address.ServerAddress.empty() && address.ServerAddress.find(':') == std::string::npos)
    address.ServerAddress += ":1494";
  TXmlNode cgp = root.FindFirst("CGPAddress");
  address.CGPAddress = cgp.Text();
  if (cgp.Attr("addresstype") == "port") address.CGPAddress = "*:" + address.CGPAddress;
  TXmlNode tagNode = root.FindFirst("TicketTag");
  address.HasTicketTag = tagNode.IsValid();
  address.TicketTag = tagNode.Text();
  const std::string& tag = address.TicketTag;
  const size_t colon = tag.find(':');
  if (colon == std::string::npos) {
    address.TicketTag2 = tag;
  } else {
    address.TicketTag1 = tag.substr(0, colon);
    address.TicketTag2 = tag.substr(colon + 1);
  }
  return address;
}

std::string ParseTicketReply(const TXmlDoc& prmReply) {
  return prmReply.Root().FindFirst("Ticket").Text();
}

}  // namespace vantrel
