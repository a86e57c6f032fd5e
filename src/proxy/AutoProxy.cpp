#include "proxy/AutoProxy.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "diag/DebugLog.h"
#include "jsproxy/JsProxyApi.h"

namespace vantrel {

namespace {

constexpr char kEngineName[] = "libjsproxy.so";

// The engine beside this library first, then the platform's library search.
void* LoadEngine() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetProxyForUrlFromScript), &info) != 0 && info.dli_fname) {
    std::string self = info.dli_fname;
    std::string beside = self.substr(0, self.rfind('/') + 1) + kEngineName;
    if (void* h = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return dlopen(kEngineName, RTLD_NOW | RTLD_LOCAL);
}

// "https://host:port/path" -> "host"; a bracketed IPv6 host keeps its brackets.
std::string HostOfUrl(const std::string& prmUrl) {
  std::string rest =
      prmUrl.substr(prmUrl.find("://") == std::string::npos ? 0 : prmUrl.find("://") + 3);
  rest = rest.substr(0, rest.find('/'));
  if (!rest.empty() && rest[0] == '[') return rest.substr(0, rest.find(']') + 1);
  return rest.substr(0, rest.find(':'));
}

bool Evaluate(const std::string& prmScript, const std::string& prmUrl, std::string& prmAnswer) {
  void* engine = LoadEngine();
  if (!engine) {
    WriteDebugLog(std::string("GetProxyForUrlFromScript - failed to load ") + kEngineName + ": " +
                  dlerror());
    return false;
  }
  auto init = reinterpret_cast<TInternetInitializeAutoProxyDll>(
      dlsym(engine, "InternetInitializeAutoProxyDll"));
  auto ask = reinterpret_cast<TInternetGetProxyInfo>(dlsym(engine, "InternetGetProxyInfo"));
  TAutoProxyScriptBuffer buffer{sizeof(TAutoProxyScriptBuffer), prmScript.c_str(),
                                static_cast<uint32_t>(prmScript.size() + 1)};
  std::string host = HostOfUrl(prmUrl);
  char* answer = nullptr;
  uint32_t length = 0;
  bool ok = init && ask && init(0, nullptr, nullptr, nullptr, &buffer) &&
            ask(prmUrl.c_str(), static_cast<uint32_t>(prmUrl.size() + 1), host.c_str(),
                static_cast<uint32_t>(host.size() + 1), &answer, &length) &&
            answer;
  if (ok) prmAnswer.assign(answer, strnlen(answer, length));
  std::free(answer);
  dlclose(engine);
  return ok;
}

}  // namespace

bool GetProxyForUrlFromScript(const std::string& prmScriptUrl, const std::string& prmUrl,
                              TAutoProxyAnswer& prmAnswer) {
  prmAnswer = TAutoProxyAnswer{};
  std::string scriptUrl = prmScriptUrl.empty() ? kWpadUrl : prmScriptUrl;
  std::string script, answer;
  if (!FetchProxyScript(scriptUrl, script)) {
    WriteDebugLog("GetProxyForUrlFromScript - no script at " + scriptUrl);
    return false;
  }
  if (!Evaluate(script, prmUrl, answer)) {
    WriteDebugLog("GetProxyForUrlFromScript - the script of " + scriptUrl + " failed for " +
                  prmUrl);
    return false;
  }
  if (!ParsePacAnswer(answer, prmAnswer)) {
    WriteDebugLog("GetProxyForUrlFromScript - unusable answer from " + scriptUrl + ": " + answer);
    return false;
  }
  WriteDebugLog("GetProxyForUrlFromScript - " + prmUrl + ": " +
                (prmAnswer.Direct ? std::string("DIRECT") : prmAnswer.ProxyText));
  return true;
}

}  // namespace vantrel
