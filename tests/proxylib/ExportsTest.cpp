// libVantrelProxy.so as the control uses it: loaded with dlopen, called with buffers of the
// lengths the control passes, each followed by guard characters that must stay untouched.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "proxylib/ProxyInformation.h"
#include "proxylib/ProxyIni.h"
#include "proxylib/VantrelProxy.h"
#include "support/TestEnv.h"

namespace vantrel::proxylib {
namespace {

constexpr size_t kControlBuffer = 261;
constexpr size_t kGuard = 8;
constexpr char16_t kGuardChar = 0xA5A5;

// A caller-owned buffer of exactly kControlBuffer characters with guards behind it.
struct TBuffer {
  std::vector<char16_t> Chars = std::vector<char16_t>(kControlBuffer + kGuard, kGuardChar);
  char16_t* Data() { return Chars.data(); }
  std::u16string Text() const { return std::u16string(Chars.data()); }
  bool Untouched() const {
    for (char16_t c : Chars)
      if (c != kGuardChar) return false;
    return true;
  }
  bool GuardsIntact() const {
    for (size_t i = kControlBuffer; i < Chars.size(); ++i)
      if (Chars[i] != kGuardChar) return false;
    return true;
  }
};

std::u16string U16(const std::string& prmAscii) {
  return std::u16string(prmAscii.begin(), prmAscii.end());
}

class ProxyLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    // The cases change the environment while the library runs. With the default settings
    // backend, GIO's D-Bus threads outlive each call and read the environment concurrently; the
    // in-memory backend starts none, and GNOME's proxy settings read the same defaults from it.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    std::filesystem::remove_all(ProxyIniPath().substr(0, ProxyIniPath().rfind('/')));
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    Load();
  }
  void TearDown() override {
    if (m_Lib) dlclose(m_Lib);
  }
  void Load() {
    if (m_Lib) dlclose(m_Lib);
    m_Lib = dlopen((test::LibDir() + "/libVantrelProxy.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_Lib, nullptr) << dlerror();
    m_Get = reinterpret_cast<TGetProxyInformation>(dlsym(m_Lib, "GetProxyInformation"));
    m_GetAuth = reinterpret_cast<TGetUserProxyAuthInfo>(dlsym(m_Lib, "GetUserProxyAuthInfo"));
    m_SaveAuth = reinterpret_cast<TSaveUserProxyAuthInfo>(dlsym(m_Lib, "SaveUserProxyAuthInfo"));
    ASSERT_TRUE(m_Get && m_GetAuth && m_SaveAuth);
  }

  void* m_Lib = nullptr;
  TGetProxyInformation m_Get = nullptr;
  TGetUserProxyAuthInfo m_GetAuth = nullptr;
  TSaveUserProxyAuthInfo m_SaveAuth = nullptr;
};

TEST_F(ProxyLibrary, ExportsExactlyItsThreeEntryPoints) {
  std::set<std::string> names;
  FILE* p = popen(("nm -D --defined-only " + test::LibDir() + "/libVantrelProxy.so").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string l(line);
    l.erase(l.find_last_not_of('\n') + 1);
    names.insert(l.substr(l.rfind(' ') + 1));
  }
  ASSERT_EQ(pclose(p), 0) << "nm must be installed";
  EXPECT_EQ(names, (std::set<std::string>{"GetProxyInformation", "GetUserProxyAuthInfo",
                                          "SaveUserProxyAuthInfo"}));
}

TEST_F(ProxyLibrary, ProxyInformationFollowsTheLengthRule) {
  const std::string longest(121, 'p');  // "http=" + 121 = 126 characters
  const struct {
    std::string Proxy;  // http_proxy; empty = unset
    const char16_t* Host;
    uint32_t Browser;
    int Want;
    std::string Text;
  } cases[] = {
      {"", u"gw.example.com", 0, 0, ""},
      {"p1:8080", u"gw.example.com", 0, 1, "http=p1:8080"},
      {"p1:8080", nullptr, 0, 1, "http=p1:8080"},
      {"p1:8080", u"gw", 12, 1, "http=p1:8080"},
      {longest, u"gw", 0, 1, "http=" + longest},
      {longest + "p", u"gw", 0, 0, ""},
  };
  for (const auto& c : cases) {
    if (!c.Proxy.empty())
      setenv("http_proxy", c.Proxy.c_str(), 1);
    else
      unsetenv("http_proxy");
    TBuffer out;
    EXPECT_EQ(m_Get(c.Host, c.Browser, out.Data()), c.Want) << c.Proxy;
    EXPECT_TRUE(out.GuardsIntact()) << c.Text;
    if (c.Want)
      EXPECT_EQ(out.Text(), U16(c.Text));
    else
      EXPECT_TRUE(out.Untouched()) << c.Text;
  }
}

TEST_F(ProxyLibrary, FirefoxKindKeepsTheLastResultUnlessMarked) {
  TBuffer out;
  EXPECT_EQ(m_Get(u"gw", 0, out.Data()), 0) << "no proxy: the result is emptied";
  EXPECT_EQ(m_Get(u"gw", 2, out.Data()), 0) << "and there is no previous one";
  setenv("http_proxy", "p1:8080", 1);
  EXPECT_EQ(m_Get(u"gw", 0, out.Data()), 1);
  setenv("http_proxy", "p2:3128", 1);
  EXPECT_EQ(m_Get(u"gw", 2, out.Data()), 1);
  EXPECT_EQ(out.Text(), u"http=p1:8080") << "the same loaded library's previous result";
  {
    CProxyIni ini;
    ini.WriteInt(kOutsideProxyConfig, "FF_Browser_Running", 1);
    ini.WriteInt(kOutsideProxyConfig, "FF_Proxy_Flag", 3);
    ASSERT_TRUE(ini.Save());
  }
  EXPECT_EQ(m_Get(u"gw", 2, out.Data()), 1);
  EXPECT_EQ(out.Text(), u"http=p2:3128");
  EXPECT_EQ(m_Get(u"gw", 0, out.Data()), 1);
  EXPECT_EQ(CProxyIni().ReadInt(kOutsideProxyConfig, "FF_Browser_Running", 7), 0)
      << "other kinds clear the marks first";
  unsetenv("http_proxy");
  Load();
  TBuffer again;
  EXPECT_EQ(m_Get(u"gw", 2, again.Data()), 1) << "the library stays loaded, with its result";
  EXPECT_EQ(again.Text(), u"http=p2:3128");
}

TEST_F(ProxyLibrary, CredentialsRoundTripWithinTheBuffers) {
  TBuffer user, password, domain;
  EXPECT_EQ(m_GetAuth(user.Data(), password.Data(), domain.Data()), 0);
  EXPECT_TRUE(user.Untouched() && password.Untouched() && domain.Untouched());

  const std::u16string longest(126, u'x');
  EXPECT_EQ(m_SaveAuth(u"alice", longest.c_str(), u"CORP"), 1);
  ASSERT_EQ(m_GetAuth(user.Data(), password.Data(), domain.Data()), 1);
  EXPECT_EQ(user.Text(), u"alice");
  EXPECT_EQ(password.Text(), longest);
  EXPECT_EQ(domain.Text(), u"CORP");
  EXPECT_TRUE(user.GuardsIntact() && password.GuardsIntact() && domain.GuardsIntact());

  EXPECT_EQ(m_SaveAuth(u"alice", (longest + u"x").c_str(), u"CORP"), 1);
  TBuffer u2, p2, d2;
  EXPECT_EQ(m_GetAuth(u2.Data(), p2.Data(), d2.Data()), 0) << "too long to hand out";
  EXPECT_TRUE(u2.Untouched() && p2.Untouched() && d2.Untouched());

  EXPECT_EQ(m_SaveAuth(nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(m_GetAuth(u2.Data(), p2.Data(), d2.Data()), 0);
}

TEST(ProxyWorker, AWorkerPastTheWaitIsParkedAndJoinedLater) {
  setenv("http_proxy", "p1:8080", 1);
  auto start = std::chrono::steady_clock::now();
  GetProxyInformationText(u"gw", 0, std::chrono::milliseconds(0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  setenv("http_proxy", "p2:3128", 1);
  EXPECT_EQ(GetProxyInformationText(u"gw", 0), u"http=p2:3128");
  unsetenv("http_proxy");
}

}  // namespace
}  // namespace vantrel::proxylib
