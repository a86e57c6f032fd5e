// Whether the gateway answers again after the control connection was lost: a TCP connect and a
// TLS handshake to address:port, each bounded and ended early by a stop event.
#pragma once

#include <string>

#include "platform/Event.h"

namespace vantrel {

// One probe; false on any failure, on timeout (prmTimeoutMs per step) or when prmStop is set.
bool ProbeGatewayTls(const std::string& prmAddr, int prmPort, const TEvent& prmStop,
                     int prmTimeoutMs);

}  // namespace vantrel
