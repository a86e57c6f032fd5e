#include "proxy/ProxyLibBindings.h"

#include <dlfcn.h>
#include <openssl/crypto.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>

#include "diag/DebugLog.h"
#include "diag/Utf16Text.h"
#include "ntlmlib/Brelntlm.h"
#include "proxy/ProxyUtils.h"
#include "proxylib/VantrelProxy.h"

namespace vantrel {
namespace {

constexpr size_t kProxyTextChars = 261;  // each UTF-16 buffer handed to the proxy library
constexpr size_t kNtlmOutBytes = 4097;   // each output buffer handed to the NTLM library

// Each companion's file, and the name the log has always used for it.
struct TCompanion {
  int Kind;
  const char* File;
  const char* LogName;
};
constexpr TCompanion kCompanions[] = {
    {kProxyDll, "libVantrelProxy.so", "VantrelProxy.dll"},
    {kNtlmDll, "libBrelntlm.so", "Brelntlm.dll"},
    {kNtlmXpDll, "libBrelntlm_xp.so", "Brelntlm.dll"},
};

const TCompanion* Companion(int prmKind) {
  for (const TCompanion& c : kCompanions)
    if (c.Kind == prmKind) return &c;
  return nullptr;
}

const char* FileName(int prmKind) {
  const TCompanion* c = Companion(prmKind);
  return c ? c->File : nullptr;
}

const char* LogName(int prmKind) {
  const TCompanion* c = Companion(prmKind);
  return c ? c->LogName : "Brelntlm.dll";
}

// A buffer the library filled: its text up to the NUL, or all of it when the library wrote none.
std::string BufferText(const char16_t* prmBuffer) {
  size_t len = 0;
  while (len < kProxyTextChars && prmBuffer[len]) ++len;
  return Utf16ToUtf8(std::u16string_view(prmBuffer, len));
}

std::string LoaderError() {
  const char* e = dlerror();
  return e ? e : "unknown";
}

// One dlopen of a companion library; closed when it goes unless Keep() handed the handle on.
class TLibrary {
 public:
  TLibrary(const std::string& prmPath, int prmKind) : m_Kind(prmKind) {
    dlerror();
    m_Handle = dlopen(prmPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_Handle)
      WriteDebugLog(std::string("failed to load ") + LogName(prmKind) +
                    ", error is:" + LoaderError());
  }
  explicit TLibrary(void* prmHandle, int prmKind) : m_Handle(prmHandle), m_Kind(prmKind) {}
  ~TLibrary() {
    if (m_Handle) dlclose(m_Handle);
  }
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;

  explicit operator bool() const { return m_Handle != nullptr; }
  template <class F>
  F Export(const char* prmName) const {
    dlerror();
    void* fn = dlsym(m_Handle, prmName);
    if (!fn)
      WriteDebugLog(std::string("failed to get ") + prmName + " from " + LogName(m_Kind) +
                    ", error is:" + LoaderError());
    return reinterpret_cast<F>(fn);
  }
  void* Keep() { return std::exchange(m_Handle, nullptr); }

 private:
  void* m_Handle = nullptr;
  int m_Kind;
};

// The NTLM library loaded for the open context; unloaded only by FreeNtlmContext.
void* g_NtlmLib = nullptr;

// The NTLM library for one call: the one holding the open context, else a fresh load.
TLibrary OpenNtlm(const std::string& prmLib) {
  if (g_NtlmLib) return TLibrary(std::exchange(g_NtlmLib, nullptr), kNtlmDll);
  return TLibrary(prmLib, kNtlmDll);
}

// An entry point of the NTLM library for one call; without it the library still stays loaded
// for a context that is open.
template <class F>
F NtlmExport(TLibrary& prmLib, const char* prmName) {
  F fn = prmLib ? prmLib.Export<F>(prmName) : nullptr;
  if (!fn && g_ctx) g_NtlmLib = prmLib.Keep();
  return fn;
}

// After a call: a context the library opened keeps it loaded.
std::string FinishNtlmCall(TLibrary& prmLib, const char* prmName, int prmResult,
                           const char* prmOut) {
  WriteDebugLog(std::string(prmName) + " returned " + std::to_string(prmResult));
  std::string msg(prmOut, strnlen(prmOut, kNtlmOutBytes - 1));
  // A failed negotiate may have closed the context it replaced: the flag follows the context.
  if (g_ctx) {
    g_NtlmLib = prmLib.Keep();
    if (!msg.empty()) g_NtlmCtxActive = true;
  } else {
    g_NtlmCtxActive = false;
  }
  return msg;
}

}  // namespace

std::string GetCurDllFileDir(bool /*prmBrowserHost*/) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&GetCurDllFileDir), &info) || !info.dli_fname) return {};
  std::error_code ec;
  std::filesystem::path self = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return {};
  return self.parent_path().string() + "/";
}

std::string GetDllFilePath(int prmKind) {
  const char* name = FileName(prmKind);
  if (!name) return {};
  // Never the temporary or the current directory: anyone may write a library there.
  for (std::string dir : {GetCurDllFileDir(false), std::string(VANTREL_INSTALL_LIBDIR "/")}) {
    std::error_code ec;
    if (!dir.empty() && std::filesystem::is_regular_file(dir + name, ec)) return dir + name;
  }
  return {};
}

std::string CompanionLibrary(int prmKind) {
  std::string path = GetDllFilePath(prmKind);
  if (!path.empty()) return path;
  const char* name = FileName(prmKind);
  return name ? name : "";
}

std::string GetProxyInfoFromLib(const std::string& prmLib, const std::string& prmHost) {
  TLibrary lib(prmLib, kProxyDll);
  auto fn = lib ? lib.Export<TGetProxyInformation>("GetProxyInformation") : nullptr;
  if (!fn) return {};
  char16_t out[kProxyTextChars] = {};
  // The browser kind is always 0 from the control.
  if ((fn(Utf8ToUtf16(prmHost).c_str(), 0, out) & 0xFF) == 0) return {};
  return BufferText(out);
}

bool GetUserProxyAuthInfoFromLib(const std::string& prmLib) {
  TLibrary lib(prmLib, kProxyDll);
  auto fn = lib ? lib.Export<TGetUserProxyAuthInfo>("GetUserProxyAuthInfo") : nullptr;
  if (!fn) return false;
  char16_t user[kProxyTextChars] = {}, password[kProxyTextChars] = {}, domain[kProxyTextChars] = {};
  bool ok = (fn(user, password, domain) & 0xFF) != 0;
  if (ok) {
    g_ProxyUser = BufferText(user);
    g_ProxyPassword = BufferText(password);
    g_ProxyDomain = BufferText(domain);
  }
  OPENSSL_cleanse(password, sizeof password);
  return ok;
}

bool SaveProxyUserAuthInfoToLib(const std::string& prmLib, const std::string& prmUser,
                                const std::string& prmPassword, const std::string& prmDomain) {
  TLibrary lib(prmLib, kProxyDll);
  auto fn = lib ? lib.Export<TSaveUserProxyAuthInfo>("SaveUserProxyAuthInfo") : nullptr;
  if (!fn) return false;
  std::u16string password = Utf8ToUtf16(prmPassword);
  bool ok = (fn(Utf8ToUtf16(prmUser).c_str(), password.c_str(), Utf8ToUtf16(prmDomain).c_str()) &
             0xFF) != 0;
  OPENSSL_cleanse(password.data(), password.size() * sizeof(char16_t));
  return ok;
}

std::string GetNegotiateMsgFromLib(const std::string& prmLib, const std::string& prmServer,
                                   const std::string& prmDomain, const std::string& prmUser,
                                   const std::string& prmPassword) {
  TLibrary lib = OpenNtlm(prmLib);
  auto fn = NtlmExport<TNtlmBuildNegotiate>(lib, "ntlm_build_negotiate_msg");
  if (!fn) return {};
  // All three empty: NULL texts, so the library takes the logged-on user.
  bool loggedOn = prmDomain.empty() && prmUser.empty() && prmPassword.empty();
  auto text = [loggedOn](const std::string& s) { return loggedOn ? nullptr : s.c_str(); };
  char out[kNtlmOutBytes] = {};
  int rc = fn(&g_ctx, prmServer.c_str(), text(prmDomain), text(prmUser), text(prmPassword), out, 0);
  return FinishNtlmCall(lib, "ntlm_build_negotiate_msg", rc, out);
}

std::string GetAuthMsgFromLib(const std::string& prmLib, const std::string& prmChallenge,
                              int prmOption) {
  TLibrary lib = OpenNtlm(prmLib);
  auto fn = NtlmExport<TNtlmBuildAuth>(lib, "ntlm_build_auth_msg");
  if (!fn) return {};
  char out[kNtlmOutBytes] = {};
  int rc = fn(&g_ctx, prmChallenge.c_str(), prmOption, out, 0);
  return FinishNtlmCall(lib, "ntlm_build_auth_msg", rc, out);
}

bool FreeNtlmContext() {
  if (!g_NtlmLib) return true;
  TLibrary lib(std::exchange(g_NtlmLib, nullptr), kNtlmDll);
  if (auto fn = lib.Export<TNtlmCtxFree>("ntlm_ctx_free")) fn(&g_ctx);
  // Without the export the context cannot be freed, but it must not outlive its library.
  g_ctx = nullptr;
  g_NtlmCtxActive = false;
  return true;
}

std::string GetProxyInfoFromDll(const std::string& prmHost) {
  return GetProxyInfoFromLib(CompanionLibrary(kProxyDll), prmHost);
}
bool GetUserProxyAuthInfoFromDll() {
  return GetUserProxyAuthInfoFromLib(CompanionLibrary(kProxyDll));
}
bool SaveProxyUserAuthInfo(const std::string& prmUser, const std::string& prmPassword,
                           const std::string& prmDomain) {
  return SaveProxyUserAuthInfoToLib(CompanionLibrary(kProxyDll), prmUser, prmPassword, prmDomain);
}
std::string GetNegotiateMsg(const std::string& prmServer, const std::string& prmDomain,
                            const std::string& prmUser, const std::string& prmPassword) {
  return GetNegotiateMsgFromLib(CompanionLibrary(kNtlmDll), prmServer, prmDomain, prmUser,
                                prmPassword);
}
std::string GetAuthMsg(const std::string& prmChallenge, int prmOption) {
  return GetAuthMsgFromLib(CompanionLibrary(kNtlmDll), prmChallenge, prmOption);
}

}  // namespace vantrel
