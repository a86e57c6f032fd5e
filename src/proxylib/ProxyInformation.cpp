#include "proxylib/ProxyInformation.h"

#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "proxylib/BrowserProxySetting.h"
#include "proxylib/ProxyIni.h"
#include "proxylog/LogShared.h"
#include "proxylog/Loglib.h"
#include "proxylog/UtilityLib.h"

namespace vantrel::proxylib {

namespace {

using namespace std::chrono_literals;
using proxylog::kLevelError;
using proxylog::kLevelInfo;

std::mutex g_CallLock;
// Shared between the caller and the worker.
std::mutex g_StateLock;
std::u16string g_Host;
uint32_t g_Browser = 0;
std::u16string g_ProxyResult;

// Workers that outlived their caller's wait.
class TParkedWorkers {
 public:
  ~TParkedWorkers() { JoinAll(); }
  void Park(std::thread prmWorker) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Workers.push_back(std::move(prmWorker));
  }
  void JoinAll() {
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      workers.swap(m_Workers);
    }
    for (std::thread& w : workers) w.join();
  }

 private:
  std::mutex m_Lock;
  std::vector<std::thread> m_Workers;
} g_Parked;

void Initialize() {
  std::string host;
  uint32_t browser;
  {
    std::lock_guard<std::mutex> lock(g_StateLock);
    host = proxylog::Utf16ToUtf8(g_Host);
    browser = g_Browser;
  }
  if (browser == 2) {
    if (!ProxyIniExists()) return;
    CProxyIni ini;
    if (ini.ReadInt(kOutsideProxyConfig, "FF_Browser_Running", 0) != 1 ||
        ini.ReadInt(kOutsideProxyConfig, "FF_Proxy_Flag", 0) != 3)
      return;
  } else {
    CBrowserProxySetting::OnClear();
  }
  std::u16string result = proxylog::Utf8ToUtf16(CBrowserProxySetting().OnSave(host));
  std::lock_guard<std::mutex> lock(g_StateLock);
  g_ProxyResult = std::move(result);
}

void ActiveX() {
  try {
    Initialize();
  } catch (...) {
    PROXY_LOG(kLevelError, "ActiveX: detection failed");
  }
  proxylog::TNamedSem done;
  if (!done.Open(CompletionEventName(), false)) {
    PROXY_LOG(kLevelError, "ActiveX: the hEvent save finished is NULL");
    return;
  }
  done.Post();
}

// Waits for the completion event in 1 s slices up to prmLimit; true when it was set.
bool SleepWithMessageLoop(proxylog::TNamedSem& prmEvent, std::chrono::milliseconds prmLimit) {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (elapsed >= prmLimit) return false;
    // No window messages reach a C entry point on Linux; the slices keep the wait's shape.
    if (prmEvent.Wait(std::min<std::chrono::milliseconds>(1000ms, prmLimit - elapsed))) return true;
  }
}

}  // namespace

std::string CompletionEventName() {
  return std::string("/Global\\SaveFinished{631094A1-F766-4601-83CD-6DA91B6E4C58.") +
         std::to_string(geteuid()) + "." + std::to_string(getpid());
}

std::u16string GetProxyInformationText(const char16_t* prmHost, uint32_t prmBrowser,
                                       std::chrono::milliseconds prmLimit) {
  // One call at a time per process: each owns the event for its duration, and no worker of an
  // earlier call is left to signal it.
  std::lock_guard<std::mutex> call(g_CallLock);
  g_Parked.JoinAll();
  std::u16string host = prmHost ? std::u16string(prmHost) : proxylog::Utf8ToUtf16(kNullHostAddress);
  {
    std::lock_guard<std::mutex> lock(g_StateLock);
    g_Host = host;
    g_Browser = prmBrowser < 10 ? prmBrowser : 0;
  }
  PROXY_LOG(kLevelInfo, "GetProxyInformation: start, host:%s, Browser:%d",
            proxylog::Utf16ToUtf8(host).c_str(),
            static_cast<int>(prmBrowser < 10 ? prmBrowser : 0));
  proxylog::TNamedSem event;
  bool listening = event.Open(CompletionEventName(), true, 0);
  if (!listening)
    PROXY_LOG(kLevelError, "SleepWithMessageLoop: hEvent is NULL, error is %d", errno);
  while (listening && event.Wait(0ms)) {
    // Left by a process that had this id before; not this call's.
  }
  std::thread worker(ActiveX);
  bool done = listening && SleepWithMessageLoop(event, prmLimit);
  if (done) {
    worker.join();
  } else {
    g_Parked.Park(std::move(worker));
  }
  event.Close();
  sem_unlink(CompletionEventName().c_str());
  std::lock_guard<std::mutex> lock(g_StateLock);
  PROXY_LOG(kLevelInfo, "GetProxyInformation: finished and proxy is %s",
            proxylog::Utf16ToUtf8(g_ProxyResult).c_str());
  if (g_ProxyResult.size() < kMinProxyText || g_ProxyResult.size() > kMaxProxyText) {
    g_ProxyResult.clear();
    return {};
  }
  return g_ProxyResult;
}

}  // namespace vantrel::proxylib
