// The program's "availability" and "demo" roles. The caller blocks the stop signals before any
// thread starts and passes the wait for them, so that every peer thread inherits the mask.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantrel::testpeer {

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
