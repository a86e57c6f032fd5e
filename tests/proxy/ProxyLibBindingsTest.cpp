// The companion-library bindings through dlopen: where the files are found, what the control
// hands the proxy support library (tests' own library with its three exports) and the real NTLM
// library, and that the NTLM library stays loaded exactly while a context is open.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "proxy/ProxyLibBindings.h"
#include "proxy/ProxyUtils.h"
#include "support/LogCapture.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

std::string Lib(const char* prmName) {
  return test::LibDir() + "/lib" + prmName + ".so";
}

// MS-NLMP 4.2.4.3's CHALLENGE_MESSAGE in Base64.
const char kChallenge[] =
    "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2AGUAcgAC"
    "AAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

bool Loaded(const std::string& prmPath) {
  void* h = dlopen(prmPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

TEST(ProxyLibBindings, FilesNextToTheControlThenTheBareName) {
  std::string dir = std::filesystem::canonical(test::LibDir()).string() + "/";
  EXPECT_EQ(GetCurDllFileDir(false), dir);
  EXPECT_EQ(GetCurDllFileDir(true), dir);
  EXPECT_EQ(GetDllFilePath(kNtlmDll), dir + "libBrelntlm.so");
  EXPECT_EQ(GetDllFilePath(kNtlmXpDll), "");
  EXPECT_EQ(GetDllFilePath(7), "");
  EXPECT_EQ(CompanionLibrary(kNtlmDll), dir + "libBrelntlm.so");
  EXPECT_EQ(CompanionLibrary(kNtlmXpDll), "libBrelntlm_xp.so");
}

TEST(ProxyLibBindings, ProxyInformationBuffers) {
  const struct {
    std::string Host, Answer;
  } cases[] = {
      {"gw.example.com", "kind=0 host=gw.example.com"},
      {"long", std::string(260, 'x')},
      {"nonul", std::string(261, 'y')},  // a library that fills the whole buffer
      {"highbyte", ""},
      {"none", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetProxyInfoFromLib(Lib("vantrel_test_fakeproxy"), c.Host), c.Answer) << c.Host;
}

TEST(ProxyLibBindings, SavedCredentialsBothWays) {
  std::string lib = Lib("vantrel_test_fakeproxy");
  g_ProxyUser = g_ProxyPassword = g_ProxyDomain = "before";
  setenv("FAKE_PROXY_NO_CREDS", "1", 1);
  EXPECT_FALSE(GetUserProxyAuthInfoFromLib(lib));
  EXPECT_EQ(g_ProxyUser + g_ProxyPassword + g_ProxyDomain, "beforebeforebefore");
  unsetenv("FAKE_PROXY_NO_CREDS");
  EXPECT_TRUE(GetUserProxyAuthInfoFromLib(lib));
  EXPECT_EQ(g_ProxyUser, std::string(260, 'u'));
  EXPECT_EQ(g_ProxyPassword, "p\xc3\xa4ss");
  EXPECT_EQ(g_ProxyDomain, "DOM");

  EXPECT_TRUE(SaveProxyUserAuthInfoToLib(lib, "bob", "p\xc3\xa4ss\xf0\x9f\x94\x91", ""));
  std::ifstream in(std::getenv("TMPDIR") + std::string("/fakeproxy.saved"), std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string saved(raw.size() / 2, u'\0');
  raw.copy(reinterpret_cast<char*>(saved.data()), raw.size());
  EXPECT_EQ(saved, std::u16string(u"bob\0p\u00e4ss\U0001F511\0\0", 12));
}

TEST(ProxyLibBindings, MissingLibraryOrExportFailsWithLogLine) {
  test::TLogCapture cap;
  EXPECT_EQ(GetProxyInfoFromLib("/nonexistent/libVantrelProxy.so", "gw"), "");
  EXPECT_FALSE(GetUserProxyAuthInfoFromLib(Lib("vantrel_test_plain")));
  EXPECT_FALSE(SaveProxyUserAuthInfoToLib(Lib("vantrel_test_plain"), "u", "secret-pw", "d"));
  EXPECT_EQ(GetNegotiateMsgFromLib("/nonexistent/libBrelntlm.so", "p", "d", "u", "secret-pw"), "");
  EXPECT_TRUE(cap.Contains("failed to load VantrelProxy.dll, error is:"));
  EXPECT_TRUE(cap.Contains("failed to get GetUserProxyAuthInfo from VantrelProxy.dll"));
  EXPECT_TRUE(cap.Contains("failed to get SaveUserProxyAuthInfo from VantrelProxy.dll"));
  EXPECT_TRUE(cap.Contains("failed to load Brelntlm.dll, error is:"));
  EXPECT_FALSE(cap.Contains("secret-pw"));
  EXPECT_FALSE(g_NtlmCtxActive);
}

TEST(ProxyLibBindings, NtlmLibraryLoadedWhileContextOpen) {
  std::string lib = Lib("Brelntlm");
  std::string users = test::TestRoot() + "/tmp/ntlm_users";
  std::ofstream(users) << "CORP:" << getpwuid(geteuid())->pw_name << ":pw\n";
  const struct {
    std::string User, Password;
    bool UserFile, Opens;
  } cases[] = {
      {"", "", false, false},  // NULL texts and no user file: nothing to log on with
      {"", "", true, true},    // NULL texts: the user file's entry
      {"", "x", false, true},  // an empty user name is still a text, not the logged-on user
      {"bob", "pw", false, true},
  };
  for (const auto& c : cases) {
    // Whatever an earlier test of this binary left in the environment.
    if (c.UserFile)
      setenv("NTLM_USER_FILE", users.c_str(), 1);
    else
      unsetenv("NTLM_USER_FILE");
    std::string negotiate = GetNegotiateMsg("proxy", "", c.User, c.Password);
    unsetenv("NTLM_USER_FILE");
    EXPECT_EQ(!negotiate.empty(), c.Opens) << c.User << "/" << c.Password;
    EXPECT_EQ(g_NtlmCtxActive, c.Opens);
    EXPECT_EQ(Loaded(lib), c.Opens);
    if (!c.Opens) continue;
    EXPECT_EQ(negotiate.rfind("TlRMTVNTUAAB", 0), 0u) << negotiate;
    std::string auth = GetAuthMsg(kChallenge, 2);
    EXPECT_EQ(auth.rfind("TlRMTVNTUAAD", 0), 0u) << auth;
    EXPECT_TRUE(Loaded(lib));
    EXPECT_TRUE(FreeNtlmContext());
    EXPECT_FALSE(g_NtlmCtxActive);
    EXPECT_EQ(g_ctx, nullptr);
    EXPECT_FALSE(Loaded(lib));
  }
  EXPECT_TRUE(FreeNtlmContext());  // nothing open: nothing to do
  // A negotiate that fails replaces the open context with none: nothing stays loaded.
  ASSERT_FALSE(GetNegotiateMsg("proxy", "", "bob", "pw").empty());
  EXPECT_EQ(GetNegotiateMsg("proxy", "", "", ""), "");
  EXPECT_FALSE(g_NtlmCtxActive);
  EXPECT_EQ(g_ctx, nullptr);
  EXPECT_FALSE(Loaded(lib));
}

}  // namespace
}  // namespace vantrel
