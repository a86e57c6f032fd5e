#include "platform/LastInput.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "diag/DebugLog.h"
#include "platform/ProcessSpawn.h"

namespace vantrel {

bool ParseLogindIdle(std::string_view prmOutput, uint64_t prmNowMonoUs, uint64_t& prmIdleMs) {
  std::string_view hint, since;
  bool haveHint = false, haveSince = false;
  size_t pos = 0;
  while (pos < prmOutput.size()) {
    size_t eol = prmOutput.find('\n', pos);
    std::string_view line = prmOutput.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
    pos = eol == std::string_view::npos ? prmOutput.size() : eol + 1;
    if (line.rfind("IdleHint=", 0) == 0) {
      hint = line.substr(9);
      haveHint = true;
    } else if (line.rfind("IdleSinceHintMonotonic=", 0) == 0) {
      since = line.substr(23);
      haveSince = true;
    }
  }
  if (!haveHint) return false;
  if (hint == "no") {
    prmIdleMs = 0;
    return true;
  }
  if (hint != "yes" || !haveSince || since.empty() || since.size() > 19) return false;
  uint64_t sinceUs = 0;
  for (char c : since) {
    if (c < '0' || c > '9') return false;
    sinceUs = sinceUs * 10 + static_cast<uint64_t>(c - '0');
  }
  if (sinceUs > prmNowMonoUs) return false;
  prmIdleMs = (prmNowMonoUs - sinceUs) / 1000;
  return true;
}

namespace {

// The few Xlib and XScreenSaver entries used; resolved by name so nothing links against them.
struct TXssInfo {
  unsigned long window;
  int state;
  int kind;
  unsigned long til_or_since;
  unsigned long idle;
  unsigned long eventMask;
};

class TX11Source : public ILastInputSource {
 public:
  ~TX11Source() override {
    if (m_Display != nullptr) m_CloseDisplay(m_Display);
    if (m_Xss != nullptr) dlclose(m_Xss);
    if (m_X11 != nullptr) dlclose(m_X11);
  }

  bool Open(const char* prmDisplay) {
    m_X11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    m_Xss = dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL);
    if (m_X11 == nullptr || m_Xss == nullptr) return false;
    auto openDisplay = reinterpret_cast<void* (*)(const char*)>(dlsym(m_X11, "XOpenDisplay"));
    m_CloseDisplay = reinterpret_cast<int (*)(void*)>(dlsym(m_X11, "XCloseDisplay"));
    m_RootWindow = reinterpret_cast<unsigned long (*)(void*)>(dlsym(m_X11, "XDefaultRootWindow"));
    m_Free = reinterpret_cast<int (*)(void*)>(dlsym(m_X11, "XFree"));
    auto queryExt =
        reinterpret_cast<int (*)(void*, int*, int*)>(dlsym(m_Xss, "XScreenSaverQueryExtension"));
    m_AllocInfo = reinterpret_cast<TXssInfo* (*)()>(dlsym(m_Xss, "XScreenSaverAllocInfo"));
    m_QueryInfo = reinterpret_cast<int (*)(void*, unsigned long, TXssInfo*)>(
        dlsym(m_Xss, "XScreenSaverQueryInfo"));
    if (openDisplay == nullptr || m_CloseDisplay == nullptr || m_RootWindow == nullptr ||
        m_Free == nullptr || queryExt == nullptr || m_AllocInfo == nullptr ||
        m_QueryInfo == nullptr)
      return false;
    m_Display = openDisplay(prmDisplay);
    if (m_Display == nullptr) return false;
    int event = 0, error = 0;
    return queryExt(m_Display, &event, &error) != 0;
  }

  bool GetIdleMs(uint64_t& prmIdleMs) override {
    TXssInfo* info = m_AllocInfo();
    if (info == nullptr) return false;
    bool ok = m_QueryInfo(m_Display, m_RootWindow(m_Display), info) != 0;
    if (ok) prmIdleMs = info->idle;
    m_Free(info);
    return ok;
  }

 private:
  void* m_X11 = nullptr;
  void* m_Xss = nullptr;
  void* m_Display = nullptr;
  int (*m_CloseDisplay)(void*) = nullptr;
  unsigned long (*m_RootWindow)(void*) = nullptr;
  int (*m_Free)(void*) = nullptr;
  TXssInfo* (*m_AllocInfo)() = nullptr;
  int (*m_QueryInfo)(void*, unsigned long, TXssInfo*) = nullptr;
};

// A logind that does not answer must not hold the monitor past its next round.
constexpr int kLoginctlTimeoutMs = 2000;

class TLogindSource : public ILastInputSource {
 public:
  bool GetIdleMs(uint64_t& prmIdleMs) override {
    const char* id = std::getenv("XDG_SESSION_ID");
    std::string session = id != nullptr && *id != '\0' ? id : "auto";
    std::string out;
    if (!RunCaptureOutput({"loginctl", "show-session", session, "--property=IdleHint",
                           "--property=IdleSinceHintMonotonic"},
                          kLoginctlTimeoutMs, out, 4096))
      return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t nowUs =
        static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
    return ParseLogindIdle(out, nowUs, prmIdleMs);
  }
};

}  // namespace

std::unique_ptr<ILastInputSource> CreateLastInputSource() {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    auto x11 = std::make_unique<TX11Source>();
    if (x11->Open(display)) return x11;
    WriteDebugLog("LastInput - No screen-saver extension on display " + std::string(display));
  }
  // Found on the search path: a machine without logind fails each query on its own.
  return std::make_unique<TLogindSource>();
}

}  // namespace vantrel
