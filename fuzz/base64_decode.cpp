// Base64 decoding of arbitrary text: only the length error is raised, the output size follows
// from the input, and decoding what was encoded gives the bytes back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t kept = 0;
  for (char c : in)
    if (c != '\t' && c != '\n' && c != '\r' && c != ' ') ++kept;
  try {
    vantrel::TBytes out = vantrel::Base64Decode(in);
    if (kept % 4 != 0 || out.size() > kept / 4 * 3 || out.size() + 2 < kept / 4 * 3)
      __builtin_trap();
  } catch (const vantrel::EBaseException& e) {
    if (kept % 4 == 0 || e.GetMsg() != "sxeErrorCalcStreamLength") __builtin_trap();
  }
  std::string enc = vantrel::Base64Encode(data, size);
  vantrel::TBytes back = vantrel::Base64Decode(enc);
  if (back.size() != size ||
      (size > 0 && std::string_view(reinterpret_cast<const char*>(back.data()), size) != in))
    __builtin_trap();
  return 0;
}
