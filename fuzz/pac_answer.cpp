// Answers of auto-configuration scripts, as any script may return them: the control's reading
// into proxy entries and the proxy library's reduction to one host and port.
#include <cstddef>
#include <cstdint>
#include <string>

#include "proxy/AutoProxy.h"
#include "proxylib/ProxyScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  std::string text(reinterpret_cast<const char*>(prmData), prmSize);
  vantrel::TAutoProxyAnswer answer;
  if (vantrel::ParsePacAnswer(text, answer) && answer.Direct && !answer.ProxyText.empty())
    __builtin_trap();
  std::string host;
  uint16_t port = 0;
  if (vantrel::proxylib::ParseScriptAnswer(text, host, port) &&
      (host.empty() || host.size() > vantrel::proxylib::kMaxProxyHost))
    __builtin_trap();
  return 0;
}
