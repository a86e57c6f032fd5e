// Whether the gateway answers again after the control connection was lost: a TCP connect and a
// TLS handshake to address:port, each bounded and ended early by a stop event, repeated while the
// computer has a network connection (a default route).
#pragma once

#include <functional>
#include <string>

#include "platform/Event.h"

namespace vantrel {

// One probe; false on any failure, on timeout (prmTimeoutMs per step) or when prmStop is set.
bool ProbeGatewayTls(const std::string& prmAddr, int prmPort, const TEvent& prmStop,
                     int prmTimeoutMs);

// Whether a routing table in the text form of /proc/net/route (prmIPv6 false) or
// /proc/net/ipv6_route (true) holds a default route that is up and not on the loopback device.
bool HasDefaultRoute(const std::string& prmTable, bool prmIPv6);
// The platform's "network connected": a default route in either table of this system.
bool HasNetworkConnection();

struct TOnlineCheck {
  int Attempts = 90;
  int PauseMs = 1000;
  // One probe: the round trip of a connect and a handshake, well under the pause between them,
  // so that the counted attempts take about Attempts seconds in all.
  int ProbeTimeoutMs = 1000;
  std::function<bool()> Network = HasNetworkConnection;
};

// Up to prmCheck.Attempts counted probes of prmAddr:prmPort, each after a pause; while the
// computer has no network connection a pause is not counted and the check waits on (a loopback
// address needs no network). True at the first probe that answers; false after the last, at once
// for an empty or unparsable address (nothing to probe), and as soon as prmStop is set.
bool WaitGatewayOnline(const std::string& prmAddr, int prmPort, const TEvent& prmStop,
                       const TOnlineCheck& prmCheck = {});

}  // namespace vantrel
