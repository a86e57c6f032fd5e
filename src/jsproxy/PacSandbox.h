// Runs a proxy auto-configuration script in a forked child, so that a hostile script (an endless
// loop, a huge allocation, deep recursion) costs at most the time limit and never the caller's
// memory or stack. The child inherits the network callbacks and uses them itself; should one
// of them block on a lock another thread of the parent held at the fork, the time limit ends
// the child like any other overrun.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "jsproxy/JsProxyApi.h"

namespace vantrel::pac {

struct TPacLimits {
  std::chrono::milliseconds Time{4000};
  size_t Memory = 32u << 20;
  size_t Answer = 64u << 10;  // longer answers fail
};

// As RunFindProxyForURL, in a child stopped at the time limit. prmError says why it failed.
bool RunFindProxyForURLLimited(const std::string& prmScript, const std::string& prmUrl,
                               const std::string& prmHost, const TAutoProxyHelperFunctions& prmNet,
                               const TPacLimits& prmLimits, std::string& prmAnswer,
                               std::string& prmError);

}  // namespace vantrel::pac
