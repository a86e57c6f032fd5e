// Files fetched from the gateway over HTTPS carry the portal cookie, so they are held to the
// trust decision of the tunnel's control connection rather than to none.
#pragma once

#include <curl/curl.h>

#include <string>

namespace vantrel {

class CAppMng;

// Sets prmCurl up for a request to prmHost:prmPort. The keys the gateway may present: the one the
// tunnel accepted (prmTunnel may be null), the administrator's pins and the user's remembered key
// of the gateway; with none of them, the chain and the name are verified against the trust
// store. False with the reason when the user's pin file is unusable.
bool ApplyGatewayTrust(CURL* prmCurl, const CAppMng* prmTunnel, const std::string& prmHost,
                       int prmPort, std::string& prmError);

}  // namespace vantrel
