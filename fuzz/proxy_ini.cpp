// Proxy.ini as a damaged or hostile file may hold it: reading never fails, and what was read
// writes back to a text that reads the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "proxylib/ProxyIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  std::string text(reinterpret_cast<const char*>(prmData), prmSize);
  vantrel::proxylib::TIniSections read = vantrel::proxylib::ParseIni(text);
  std::string written = vantrel::proxylib::FormatIni(read);
  if (vantrel::proxylib::FormatIni(vantrel::proxylib::ParseIni(written)) != written)
    __builtin_trap();
  return 0;
}
