// libjsproxy.so's two entry points (jsproxy/JsProxyApi.h). The loaded script and the callback
// table are kept until the next initialisation or the library's unload; each question runs the
// script afresh in a sandbox child (jsproxy/PacSandbox.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "diag/FileRead.h"
#include "diag/UniqueFd.h"
#include "jsproxy/JsProxyApi.h"
#include "jsproxy/PacNet.h"
#include "jsproxy/PacSandbox.h"

namespace {

constexpr size_t kMaxScript = 1u << 20;

struct TEngine {
  std::mutex Lock;
  bool Loaded = false;
  std::string Script;
  TAutoProxyHelperFunctions Net{};
};

TEngine& Engine() {
  static TEngine engine;
  return engine;
}

}  // namespace

extern "C" {

int InternetInitializeAutoProxyDll(uint32_t dwVersion, const char* lpszDownloadedTempFile,
                                   const char* lpszMime,
                                   const TAutoProxyHelperFunctions* lpAutoProxyCallbacks,
                                   const TAutoProxyScriptBuffer* lpAutoProxyScriptBuffer) {
  (void)dwVersion;
  (void)lpszMime;
  std::string script;
  if (lpszDownloadedTempFile) {
    if (!vantrel::ReadRegularFile(lpszDownloadedTempFile, kMaxScript, script)) return 0;
  } else if (lpAutoProxyScriptBuffer && lpAutoProxyScriptBuffer->lpszScriptBuffer &&
             lpAutoProxyScriptBuffer->dwScriptBufferSize <= kMaxScript) {
    const TAutoProxyScriptBuffer& b = *lpAutoProxyScriptBuffer;
    script.assign(b.lpszScriptBuffer, strnlen(b.lpszScriptBuffer, b.dwScriptBufferSize));
  } else {
    return 0;
  }
  if (script.empty()) return 0;
  TEngine& e = Engine();
  std::lock_guard<std::mutex> lock(e.Lock);
  e.Script = std::move(script);
  e.Net = lpAutoProxyCallbacks ? *lpAutoProxyCallbacks : vantrel::pac::PacNetFunctions();
  e.Loaded = true;
  return 1;
}

int InternetGetProxyInfo(const char* lpszUrl, uint32_t dwUrlLength, const char* lpszUrlHostName,
                         uint32_t dwUrlHostNameLength, char** lplpszProxyHostName,
                         uint32_t* lpdwProxyHostNameLength) {
  if (!lpszUrl || !lpszUrlHostName || !lplpszProxyHostName || !lpdwProxyHostNameLength) return 0;
  std::string url(lpszUrl, strnlen(lpszUrl, dwUrlLength));
  std::string host(lpszUrlHostName, strnlen(lpszUrlHostName, dwUrlHostNameLength));
  std::string script;
  TAutoProxyHelperFunctions net{};
  {
    TEngine& e = Engine();
    std::lock_guard<std::mutex> lock(e.Lock);
    if (!e.Loaded) return 0;
    script = e.Script;
    net = e.Net;
  }
  std::string answer, error;
  if (!vantrel::pac::RunFindProxyForURLLimited(script, url, host, net, {}, answer, error)) return 0;
  char* out = static_cast<char*>(std::malloc(answer.size() + 1));
  if (!out) return 0;
  std::memcpy(out, answer.c_str(), answer.size() + 1);
  *lplpszProxyHostName = out;
  *lpdwProxyHostNameLength = static_cast<uint32_t>(answer.size() + 1);
  return 1;
}

}  // extern "C"
