// Where libVantrelProxy.so itself was loaded from, for the engine library beside it and for
// keeping itself loaded while a worker runs.
#pragma once

#include <string>

namespace vantrel::proxylib {

// Full path of the shared object holding this code; empty when it cannot be told.
std::string SelfPath();
// Its folder with a trailing "/", or empty.
std::string SelfDir();

}  // namespace vantrel::proxylib
