// The program's "availability" and "demo" roles. The caller blocks the stop signals before any
// thread starts and passes the wait for them, so that every peer thread inherits the mask.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "testpeer/AvailabilityHttp.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/PeerScenario.h"

namespace vantrel::testpeer {

// The address the client's store names for the availability server in the demo.
constexpr char kDemoAvailAddress[] = "127.0.0.1:9090";

// The XenApp farm server and the XenDesktop controller of the demo's scenarios: the availability
// server serves the XML service's path, so the gateway relays both to it.
constexpr char kDemoXmlServiceAddress[] = "10.0.1.10:80";
constexpr char kDemoControllerAddress[] = "10.0.1.11:80";

// prmBase as a first-protocol gateway that relays kDemoAvailAddress, kDemoXmlServiceAddress and
// kDemoControllerAddress to prmAvailHostPort (unless prmBase maps the last two already) and
// resolves "localhost" to 127.0.0.1 unless prmBase resolves it already.
TGatewayScenario DemoGatewayScenario(TGatewayScenario prmBase, const std::string& prmAvailHostPort);

// Puts the gateway's address first in the portal's session parameters ("sp_name", "sp_port"),
// replacing any given before, so the offered session file reaches that gateway.
void SetPortalGateway(TAvailScenario& prmScenario, const std::string& prmHost, uint16_t prmPort);

// The request's path and query for printing, with the values that carry passwords or stored
// credentials ("_pid", "_vdipwd", "_userprofile") shown as XXXX, as the client's own log does.
std::string PrintableTarget(const THttpRequest& prmRequest);

// Usage lines of the two roles, for the program's --help.
const char* AvailabilityUsage();

// vantrel-testpeer availability [--scenario FILE] [--port N]
int RunAvailability(const std::vector<std::string>& prmArgs,
                    const std::function<void()>& prmWaitForStop);

// vantrel-testpeer demo [--gateway-scenario FILE] [--scenario FILE] [--port N] [--avail-port N]
// Starts the availability server and a first-protocol gateway whose scenario maps
// 127.0.0.1:9090 (and the name "localhost") to the availability server's real port.
int RunDemo(const std::vector<std::string>& prmArgs, const std::function<void()>& prmWaitForStop);

}  // namespace vantrel::testpeer
