// One run of a proxy auto-configuration script on a fresh duktape heap: the standard helpers
// (isPlainHostName ... timeRange), the script, then FindProxyForURL(url, host). Runs in the
// calling process with no time bound; PacSandbox.h runs it in a child that can be stopped.
#pragma once

#include <cstddef>
#include <string>

#include "jsproxy/JsProxyApi.h"

namespace vantrel::pac {

// Heap allocations beyond prmMemoryLimit bytes fail, which the script sees as an error.
// False when the script does not compile, throws, has no FindProxyForURL or answers anything
// but a string; prmError then says why.
bool RunFindProxyForURL(const std::string& prmScript, const std::string& prmUrl,
                        const std::string& prmHost, const TAutoProxyHelperFunctions& prmNet,
                        size_t prmMemoryLimit, std::string& prmAnswer, std::string& prmError);

}  // namespace vantrel::pac
