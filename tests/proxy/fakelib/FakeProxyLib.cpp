// A proxy support library for the binding tests: the three exports (compiled against the real
// library's header), answering by the host asked about, so the tests see what the control passes
// and how it reads the buffers.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "proxylib/VantrelProxy.h"

namespace {

void Put(char16_t* prmOut, const std::u16string& prmText) {
  prmText.copy(prmOut, prmText.size());
  prmOut[prmText.size()] = 0;
}

std::u16string Widen(const std::string& prmText) {
  return std::u16string(prmText.begin(), prmText.end());
}

}  // namespace

extern "C" int32_t GetProxyInformation(const char16_t* host, uint32_t kind, char16_t* proxy) {
  std::u16string h = host ? host : u"(null)";
  if (h == u"none") return 0;
  if (h == u"long") return Put(proxy, std::u16string(260, u'x')), 1;
  if (h == u"nonul") return std::u16string(261, u'y').copy(proxy, 261), 1;
  if (h == u"highbyte") return Put(proxy, u"p:1"), 0x100;  // only the low byte counts
  Put(proxy, Widen("kind=" + std::to_string(kind) + " host=") + h);
  return 1;
}

extern "C" int32_t GetUserProxyAuthInfo(char16_t* user, char16_t* password, char16_t* domain) {
  if (std::getenv("FAKE_PROXY_NO_CREDS")) return 0;
  Put(user, std::u16string(260, u'u'));
  Put(password, u"p\u00e4ss");
  Put(domain, u"DOM");
  return 1;
}

// Writes the three texts, NUL-separated UTF-16, to $TMPDIR/fakeproxy.saved.
extern "C" int32_t SaveUserProxyAuthInfo(const char16_t* user, const char16_t* password,
                                         const char16_t* domain) {
  const char* tmp = std::getenv("TMPDIR");
  std::ofstream out(std::string(tmp ? tmp : "/tmp") + "/fakeproxy.saved", std::ios::binary);
  for (const char16_t* t : {user, password, domain}) {
    std::u16string s(t);
    s += u'\0';
    out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size() * 2));
  }
  return 1;
}
