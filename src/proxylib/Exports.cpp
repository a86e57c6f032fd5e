// The three C entry points of libVantrelProxy.so (proxylib/VantrelProxy.h), the only symbols it
// exports. Loading the library starts its log as module 9.
//
// The library stays mapped for the rest of the process once loaded: its log and the debug log
// it carries keep process-wide state (and descriptors) that an unload would leak, and a worker
// that outlived its caller's wait must find its code still there. The control's dlclose after
// each call is then cheap and harmless; the module state lives as long as the process.
#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "proxylib/ProxyCredentials.h"
#include "proxylib/ProxyInformation.h"
#include "proxylib/SelfPath.h"
#include "proxylib/VantrelProxy.h"
#include "proxylog/LogShared.h"
#include "proxylog/Loglib.h"
#include "proxylog/UtilityLib.h"

namespace {

using vantrel::proxylog::Utf16ToUtf8;
using vantrel::proxylog::Utf8ToUtf16;

struct TLibraryLife {
  TLibraryLife() {
    std::string self = vantrel::proxylib::SelfPath();
    if (!self.empty()) dlopen(self.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    vantrel::proxylog::LogOpen(vantrel::proxylog::kProxyModule);
  }
  ~TLibraryLife() { vantrel::proxylog::LogClose(); }
} g_Life;

std::string Text(const char16_t* prmText) {
  return prmText ? Utf16ToUtf8(prmText) : std::string();
}

// prmText fits the caller's buffer: the length rules hold it to at most 126 characters.
void Copy(char16_t* prmBuffer, const std::u16string& prmText) {
  prmText.copy(prmBuffer, prmText.size());
  prmBuffer[prmText.size()] = u'\0';
}

}  // namespace

extern "C" {

int32_t GetProxyInformation(const char16_t* host, uint32_t browser, char16_t* proxy) {
  try {
    std::u16string text = vantrel::proxylib::GetProxyInformationText(host, browser);
    if (text.empty() || !proxy) return 0;
    Copy(proxy, text);
    return 1;
  } catch (...) {
    return 0;
  }
}

// Texts longer than 126 characters are refused rather than cut: a cut password is a wrong one.
int32_t GetUserProxyAuthInfo(char16_t* user, char16_t* password, char16_t* domain) {
  try {
    std::string u, p, d;
    if (!user || !password || !domain || !vantrel::proxylib::GetProxyInfo(u, p, d)) {
      PROXY_LOG(vantrel::proxylog::kLevelWarning, "GetUserProxyAuthInfo failed");
      return 0;
    }
    std::u16string wu = Utf8ToUtf16(u), wp = Utf8ToUtf16(p), wd = Utf8ToUtf16(d);
    for (const std::u16string* t : {&wu, &wp, &wd}) {
      if (t->size() > vantrel::proxylib::kMaxProxyText) {
        PROXY_LOG(vantrel::proxylog::kLevelWarning, "GetUserProxyAuthInfo failed");
        return 0;
      }
    }
    Copy(user, wu);
    Copy(password, wp);
    Copy(domain, wd);
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t SaveUserProxyAuthInfo(const char16_t* user, const char16_t* password,
                              const char16_t* domain) {
  try {
    vantrel::proxylib::SaveProxyInfo(Text(user), Text(password), Text(domain));
  } catch (...) {
  }
  return 1;
}

}  // extern "C"
