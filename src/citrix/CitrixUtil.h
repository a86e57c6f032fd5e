// The operations on a farm's XenApp XML service: the logon check, the application list and its
// icons (connect thread, while the catalogue loads), and the address and ticket requests of a
// launch (window thread). Each returns a result code (citrix/XmlReplies.h): 0 success, 1 no
// usable reply (a reply that is not XML, or whose chunked body could not be read, included), 2 to
// 16 the service's refusals; 3 also when the service host does not resolve.
#pragma once

#include <string>

#include "citrix/CitrixResp.h"
#include "citrix/XmlReplies.h"
#include "citrix/XmlRequests.h"

namespace vantrel {

class TAppCatalogue;
class TXenAppFarm;

// prmServer: a host, or a host and a port joined by ":" (port 80 when none or not a number).
// A host that is not a dotted address is resolved through the tunnel.

TCitrixResult CitrixAuthUser(const std::string& prmServer, const TCitrixLink& prmLink,
                             const TCitrixCreds& prmCreds);

// Lists the farm's applications into prmCatalogue (filed under prmFarmFolder) and remembers the
// server as the current service, which GetAllAppIcons then asks.
TCitrixResult GetAllApps(TXenAppFarm& prmFarm, const std::string& prmServer,
                         TAppCatalogue& prmCatalogue, const std::string& prmFarmFolder,
                         const TCitrixLink& prmLink, const TCitrixCreds& prmCreds);
// The 32-bit icons of the farm's applications, from the current service.
TCitrixResult GetAllAppIcons(TXenAppFarm& prmFarm, const TCitrixLink& prmLink,
                             const TCitrixCreds& prmCreds);

// The server of the application at prmLocation. A host that does not resolve gives 1.
TCitrixResult GetAppAddress(const TCitrixLink& prmLink, const std::string& prmServer,
                            const std::string& prmLocation, const TCitrixCreds& prmCreds,
                            TCitrixAddress& prmAddress);
// The server of the published desktop prmDesktopID. A host that does not resolve gives 1.
TCitrixResult GetDesktopAddress(const TCitrixLink& prmLink, const std::string& prmServer,
                                const std::string& prmDesktopID, const TCitrixCreds& prmCreds,
                                TCitrixAddress& prmAddress);
// A logon ticket for prmTicketTag ("first:second").
TCitrixResult GetLogonTicket(const TCitrixLink& prmLink, const std::string& prmServer,
                             const TCitrixCreds& prmCreds, const std::string& prmTicketTag,
                             std::string& prmTicket);

// The service GetAllApps last listed (dotted host and port); empty host before.
void GetCurrentService(std::string& prmHost, int& prmPort);

}  // namespace vantrel
