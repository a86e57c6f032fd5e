#include "proxylib/ProxyScript.h"
#include "diag/FileRead.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "diag/UniqueFd.h"
#include "jsproxy/JsProxyApi.h"
#include "jsproxy/PacNet.h"
#include "proxylib/ProxyIni.h"
#include "proxylib/SelfPath.h"
#include "proxylog/Loglib.h"
#include "proxylog/UtilityLib.h"

namespace vantrel::proxylib {

namespace {

using proxylog::kLevelError;
using proxylog::kLevelInfo;

constexpr size_t kMaxScript = 1 << 20;
constexpr size_t kEngineText = 260;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Decimal digits at prmText[prmAt...], kept in 16 bits as the port field is.
uint16_t PortAt(const std::string& prmText, size_t prmAt) {
  unsigned long v = 0;
  for (size_t i = prmAt; i < prmText.size() && prmText[i] >= '0' && prmText[i] <= '9'; ++i)
    v = (v * 10 + static_cast<unsigned long>(prmText[i] - '0')) & 0xFFFFul;
  return static_cast<uint16_t>(v);
}

struct TLibrary {
  void* Handle = nullptr;
  ~TLibrary() {
    if (Handle) dlclose(Handle);
  }
};

// Copies a regular file of at most 1 MiB over prmTo (mode 0600). A failed copy removes prmTo,
// so an earlier evaluation's script is never taken for this one.
bool CopyScript(const std::string& prmFrom, const std::string& prmTo) {
  std::string text;
  bool ok = ReadRegularFile(prmFrom, kMaxScript, text);
  std::string tmp = prmTo + ".new";
  unlink(tmp.c_str());
  if (ok && proxylog::MakePrivateDir(prmTo.substr(0, prmTo.rfind('/')))) {
    TUniqueFd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    ok = out.Valid() &&
         write(out.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
         rename(tmp.c_str(), prmTo.c_str()) == 0;
  } else {
    ok = false;
  }
  if (!ok) {
    unlink(tmp.c_str());
    unlink(prmTo.c_str());
  }
  return ok;
}

bool StoredResult(std::string& prmHost, uint16_t& prmPort) {
  if (!ProxyIniExists()) return false;
  CProxyIni ini;
  if (ini.ReadInt(kOutsideProxyConfig, "Proxy_Script_Running", 0) != 1) return false;
  prmHost = ini.ReadText(kOutsideProxyConfig, "Proxy_SSL_Host", "", kMaxProxyHost);
  prmPort = static_cast<uint16_t>(std::strtoul(
      ini.ReadText(kOutsideProxyConfig, "Proxy_SSL_Port", "", 16).c_str(), nullptr, 10));
  return true;
}

}  // namespace

std::string TempScriptPath() {
  std::string ini = ProxyIniPath();
  return ini.substr(0, ini.rfind('/')) + "/proxy.pac";
}

bool ParseProxyString(const std::string& prmText, std::string& prmHost, uint16_t& prmPort) {
  prmHost.clear();
  prmPort = 0;
  size_t start = 0;
  while (start < prmText.size() && IsBlank(prmText[start])) ++start;
  if (start == prmText.size()) {
    PROXY_LOG(kLevelError, "ParseProxyString: incorrectly formatted script string: '%s'.",
              prmText.c_str());
    return false;
  }
  size_t open = prmText.find('['), close = prmText.find(']');
  if (open != std::string::npos && close != std::string::npos && close >= start) {
    prmHost = prmText.substr(start, std::min(close + 1 - start, kMaxProxyHost));
    prmPort = PortAt(prmText, close + 2);
  } else if (open != std::string::npos || close != std::string::npos) {
    PROXY_LOG(kLevelError, "ParseProxyString: incorrectly formatted script string: '%s'",
              prmText.c_str());
    return false;
  } else {
    size_t end = prmText.find_first_of(":;", start);
    prmHost = prmText.substr(
        start, std::min((end == std::string::npos ? prmText.size() : end) - start, kMaxProxyHost));
    while (!prmHost.empty() && IsBlank(prmHost.back())) prmHost.pop_back();
    if (end != std::string::npos && prmText[end] == ':') prmPort = PortAt(prmText, end + 1);
  }
  if (prmHost.empty()) return false;
  PROXY_LOG(kLevelInfo, "ParseProxyString: proxy '%s' %d.", prmHost.c_str(), prmPort);
  return true;
}

bool ParseScriptAnswer(const std::string& prmAnswer, std::string& prmHost, uint16_t& prmPort) {
  if (prmAnswer.size() >= 6 &&
      (prmAnswer.compare(0, 5, "PROXY") == 0 || prmAnswer.compare(0, 5, "SOCKS") == 0))
    return ParseProxyString(prmAnswer.substr(5), prmHost, prmPort);
  if (prmAnswer.find("DIRECT") != std::string::npos) {
    PROXY_LOG(kLevelInfo, "ParseProxyAndSet: no proxy == direct access.");
    return false;
  }
  PROXY_LOG(kLevelError, "ParseProxyAndSet: incorrectly formatted proxy string: '%s'.",
            prmAnswer.c_str());
  return false;
}

bool ParseProxyHostAndPortForURL(const std::string& prmScriptUrl, const std::string& prmHost,
                                 std::string& prmProxyHost, uint16_t& prmProxyPort) {
  if (prmScriptUrl.empty() || prmHost.empty()) return false;
  if (StoredResult(prmProxyHost, prmProxyPort)) return true;

  TLibrary engine;
  engine.Handle = dlopen((SelfDir() + "libjsproxy.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!engine.Handle) engine.Handle = dlopen("libjsproxy.so", RTLD_NOW | RTLD_LOCAL);
  if (!engine.Handle) {
    PROXY_LOG(kLevelError, "ParseProxyAndSet: failed to load jsproxy.dll: %d", errno);
    return false;
  }
  auto init = reinterpret_cast<TInternetInitializeAutoProxyDll>(
      dlsym(engine.Handle, "InternetInitializeAutoProxyDll"));
  auto ask = reinterpret_cast<TInternetGetProxyInfo>(dlsym(engine.Handle, "InternetGetProxyInfo"));
  if (!init || !ask) {
    PROXY_LOG(kLevelError, "ParseProxyAndSet: failed in GetProcAddress: %d", errno);
    return false;
  }
  if (prmScriptUrl.find("http://") != std::string::npos) return false;

  std::string source = prmScriptUrl;
  if (size_t p = source.find("file://"); p != std::string::npos)
    source = source.substr(p + 7, kMaxProxyHost);
  std::string script = TempScriptPath();
  if (!CopyScript(source, script))
    PROXY_LOG(kLevelError, "ParseProxyAndSet: failed to copy script file '%s'", source.c_str());
  if (access(script.c_str(), F_OK) != 0) {
    PROXY_LOG(kLevelError, "File %s is not exist", script.c_str());
    return false;
  }
  if (!init(0, script.c_str(), nullptr, &pac::PacNetFunctions(), nullptr)) {
    PROXY_LOG(kLevelError, "ParseProxyAndSet: failed to init script file '%s', error:%d",
              script.c_str(), errno);
    return false;
  }
  std::string url = ("https://" + prmHost).substr(0, kEngineText - 1);
  std::string host = prmHost.substr(0, kEngineText - 1);
  char* answer = nullptr;
  uint32_t answerLength = 0;
  if (!ask(url.c_str(), kEngineText, host.c_str(), kEngineText, &answer, &answerLength) ||
      !answer) {
    PROXY_LOG(kLevelError, "ParseProxyAndSet: failed to execute script file '%s', error:%d.",
              script.c_str(), errno);
    return false;
  }
  std::string text(answer, strnlen(answer, answerLength));
  std::free(answer);
  return ParseScriptAnswer(text, prmProxyHost, prmProxyPort);
}

}  // namespace vantrel::proxylib
