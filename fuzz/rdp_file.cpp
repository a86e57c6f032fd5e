// Connection-file reading of arbitrary bytes: never crashes, every entry has a known type and a
// name without line breaks, and UTF-16 text survives the round trip through UTF-8. Arbitrary
// bytes as a protected blob never unprotect.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DataProtection.h"
#include "session/RdpFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  for (const vantrel::TRdpEntry& e : vantrel::ParseRdpFile(in)) {
    if (e.Type != 'i' && e.Type != 's' && e.Type != 'b') __builtin_trap();
    if (e.Name.find('\n') != std::string::npos || e.Value.find('\n') != std::string::npos)
      __builtin_trap();
  }
  std::string utf8 = vantrel::Utf16LEToUtf8(in);
  if (vantrel::Utf16LEToUtf8(vantrel::Utf8ToUtf16LE(utf8)) != utf8) __builtin_trap();
  std::string out;
  if (vantrel::UnprotectData(in, out)) __builtin_trap();
  return 0;
}
