// The request documents of the XenApp service: an "NFuseProtocol" root with its "version" and one
// request element. Pure builders; the documents are serialised by the exchange.
#pragma once

#include <string>

#include "diag/Xml.h"

namespace vantrel {

// The user's farm credentials; the password travels in clear, as the service asks.
struct TCitrixCreds {
  std::string UserName;
  std::string Password;
  std::string Domain;
};

TXmlDoc BuildCapabilitiesRequest();
// The application list; prmDetails is "all" (the icons come with it) or "defaults".
TXmlDoc BuildAppDataRequest(const std::string& prmDetails, const TCitrixCreds& prmCreds);
// The applications' 32 x 32 32-bit icons.
TXmlDoc BuildAppIconsRequest(const TCitrixCreds& prmCreds);
// Which server runs the application at prmLocation.
TXmlDoc BuildAppAddressRequest(const std::string& prmLocation, const TCitrixCreds& prmCreds);
// Which server runs the published desktop prmDesktopID.
TXmlDoc BuildDesktopAddressRequest(const std::string& prmDesktopID, const TCitrixCreds& prmCreds);
// A logon ticket for prmTicketTag.
TXmlDoc BuildTicketRequest(const std::string& prmTicketTag, const TCitrixCreds& prmCreds);

}  // namespace vantrel
