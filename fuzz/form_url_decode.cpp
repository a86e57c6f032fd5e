// Form-URL decoding of arbitrary bytes: raises only EBaseException, never grows the text, and
// decoding what was encoded gives the bytes back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  try {
    std::string out = vantrel::FormURLDecode(in);
    if (out.size() > in.size()) __builtin_trap();
  } catch (const vantrel::EBaseException&) {
    // malformed escapes are reported this way
  }
  std::string enc = vantrel::FormURLEncode(in);
  if (vantrel::FormURLDecode(enc) != in) __builtin_trap();
  return 0;
}
