#pragma once

#include <string>

namespace vantrel::test {

// The private folder of this test binary (holds config/, runtime/, tmp/).
const std::string& TestRoot();
// Where the built programs and libraries are.
std::string BinDir();
std::string LibDir();

}  // namespace vantrel::test
