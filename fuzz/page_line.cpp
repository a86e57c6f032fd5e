// Arbitrary bytes as one line of the page channel: parsing never raises or crashes, whatever the
// nesting, and an error reply and a call's answer always encode as one line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/vantreltcs/PageProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  using namespace vantrel::host;
  const std::string line(reinterpret_cast<const char*>(prmData), prmSize);
  TPageRequest r = ParsePageLine(line);
  std::string out;
  if (auto* e = std::get_if<TPageError>(&r)) {
    out = EncodeError(e->Id, e->Error);
  } else if (auto* c = std::get_if<TPageCall>(&r)) {
    vantrel::TDispResult result;
    result.Outs = c->Args;
    out = EncodeReply(c->Id, result);
  }
  if (out.find('\n') != std::string::npos) __builtin_trap();
  return 0;
}
