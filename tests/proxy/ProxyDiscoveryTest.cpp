// Proxy discovery: the entry splitting, the bypass test, the desktop settings as the browser's
// terms, and the decision for a gateway host.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/ProxyConfig.h"
#include "proxy/ProxyUtils.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

using TList = std::vector<std::string>;

TEST(ProxyDiscovery, ExtractProxyPort2) {
  const struct {
    std::string Entry, Host;
    int Port;
  } cases[] = {
      {"p1:8080", "p1", 8080},
      {"p1", "p1", 80},
      {"p1:", "p1", 80},
      {"", "", 80},
      {"p1:12ab", "p1", 12},
      {"p1:99999", "p1", 80},
      {"http=p1:8080", "p1", 8080},
      {"https=p2:8443", "p2", 8443},
      {"http=p1:8080;https=p2:8443", "p2", 8443},
      {"ftp=f:21;http=p1:3128", "p1", 3128},
      {"http://p3:81", "p3", 81},
      {"https=http://p4:82", "p4", 82},
      {"[::1]:8080", "[", 80},
  };
  for (const auto& c : cases) {
    std::string entry = c.Entry;
    EXPECT_EQ(ExtractProxyPort2(entry), c.Port) << c.Entry;
    EXPECT_EQ(entry, c.Host) << c.Entry;
  }
}

TEST(ProxyDiscovery, IsInBypassList) {
  const struct {
    std::string Host, List;
    bool Match;
  } cases[] = {
      {"GW.EXAMPLE.COM", "gw.example.com;other", true},
      {"GW.EXAMPLE.COM", "other;gw.example.com", true},
      {"gw.example.com", "*.example.com", false},
      {"gw.example.com", " gw.example.com", false},
      {"gw.example.com", "<local>", false},
      {"gw", "gw.example.com", false},
      {"gw", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsInBypassList(c.Host, c.List), c.Match) << c.List;
}

TEST(ProxyDiscovery, EnvironmentDecidesForHost) {
  const struct {
    std::map<std::string, std::string> Env;
    bool Direct;
    TList List;
  } cases[] = {
      {{{"unrelated", "1"}}, true, {}},
      {{{"http_proxy", "p1:8080"}, {"https_proxy", "http://p2:8443/"}},
       false,
       {"http=p1:8080", "https=p2:8443"}},
      {{{"HTTPS_PROXY", "http://u:pw@p2:8443"}}, false, {"https=p2:8443"}},
      {{{"https_proxy", "lower:1"}, {"HTTPS_PROXY", "upper:2"}}, false, {"https=lower:1"}},
      {{{"http_proxy", "p1:8080"}, {"no_proxy", "gw.example.com, other"}}, true, {}},
      {{{"http_proxy", "p1:8080"}, {"NO_PROXY", "other,gw.example.com"}}, true, {}},
      {{{"http_proxy", "p1:8080"}, {"no_proxy", ".example.com"}}, false, {"http=p1:8080"}},
  };
  for (const auto& c : cases) {
    auto source = CreateProxyConfigSource(c.Env);
    TList list = {"stale"};
    bool direct = !c.Direct;
    auto noLibrary = [](const std::string&) { return std::string(); };
    ASSERT_TRUE(DetectProxyForHost(*source, noLibrary, "GW.EXAMPLE.COM", list, direct));
    EXPECT_EQ(direct, c.Direct) << c.Env.begin()->first;
    EXPECT_EQ(list, c.List) << c.Env.begin()->first;
  }
  // The per-scheme items are tried in order: the http item, then the https item.
  auto source = CreateProxyConfigSource({{"http_proxy", "p1:8080"}, {"https_proxy", "p2:8443"}});
  TList list;
  bool direct = true;
  ASSERT_TRUE(DetectProxyForHost(*source, nullptr, "gw", list, direct));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(ExtractProxyPort2(list[0]), 8080);
  EXPECT_EQ(ExtractProxyPort2(list[1]), 8443);
  EXPECT_EQ(list, (TList{"p1", "p2"}));
}

// Settings as a browser would hand them over, for the cases the environment cannot express.
class TFixedSource : public IProxyConfigSource {
 public:
  TFixedSource(bool prmOk, TProxyConfig prmCfg) : m_Ok(prmOk), m_Cfg(std::move(prmCfg)) {}
  bool Read(TProxyConfig& prmConfig) override {
    prmConfig = m_Cfg;
    return m_Ok;
  }

 private:
  bool m_Ok;
  TProxyConfig m_Cfg;
};

TEST(ProxyDiscovery, BrowserTermsAndAutomaticFallback) {
  const TProxyConfig manual{3, 0, "", "p1:81;", "x"};
  const TProxyConfig script{5, 0, "file:///nonexistent/proxy.pac", "p9:9", ""};
  const TProxyConfig detect{9, 0, "", "", ""};
  const TProxyConfig proxyFlagOff{1, 0, "", "p1:81", ""};
  const struct {
    bool ReadOk;
    TProxyConfig Cfg;
    std::string LibraryAnswer;
    bool Result, Direct;
    TList List;
  } cases[] = {
      {false, manual, "", false, false, {}},
      {true, manual, "", true, false, {"p1:81", ""}},  // the empty last entry is tried too
      {true, proxyFlagOff, "", true, true, {}},
      {true, script, "lib:3128", true, false, {"lib:3128"}},
      {true, script, "", false, false, {}},
      {true, detect, "http=a:1;https=b:2", true, false, {"http=a:1;https=b:2"}},
  };
  for (const auto& c : cases) {
    TFixedSource source(c.ReadOk, c.Cfg);
    std::string asked;
    auto library = [&](const std::string& prmHost) {
      asked = prmHost;
      return c.LibraryAnswer;
    };
    TList list;
    bool direct = false;
    EXPECT_EQ(DetectProxyForHost(source, library, "gw", list, direct), c.Result) << c.Cfg.Flags;
    EXPECT_EQ(direct, c.Direct) << c.Cfg.Flags;
    EXPECT_EQ(list, c.List) << c.Cfg.Flags;
    EXPECT_EQ(asked, (c.Cfg.Flags & 12) && c.ReadOk ? "gw" : "") << c.Cfg.Flags;
  }
}

TEST(ProxyDiscovery, GnomeSettingsInBrowserTerms) {
  const struct {
    TGnomeProxySettings Gnome;
    bool Mapped;
    int Flags;
    std::string Server, Url, Bypass;
  } cases[] = {
      {{"none", "", "h", 1, "", 0, {"a"}}, false, 1, "", "", ""},
      {{"bogus", "", "", 0, "", 0, {}}, false, 1, "", "", ""},
      {{"manual", "", "p1", 8080, "p2", 8443, {"localhost", "gw"}},
       true,
       3,
       "http=p1:8080;https=p2:8443",
       "",
       "localhost;gw"},
      {{"manual", "", "", 8080, "p2", 0, {}}, true, 3, "https=p2", "", ""},
      {{"manual", "", "", 8080, "", 0, {}}, true, 1, "", "", ""},
      {{"auto", "http://wpad/p.pac", "p1", 1, "", 0, {}}, true, 5, "", "http://wpad/p.pac", ""},
      {{"auto", "", "", 0, "", 0, {}}, true, 9, "", "", ""},
  };
  for (const auto& c : cases) {
    TProxyConfig cfg;
    EXPECT_EQ(MapGnomeProxySettings(c.Gnome, cfg), c.Mapped) << c.Gnome.Mode;
    EXPECT_EQ(cfg.Flags, c.Flags) << c.Gnome.Mode;
    EXPECT_EQ(cfg.Server, c.Server) << c.Gnome.Mode;
    EXPECT_EQ(cfg.AutoConfigUrl, c.Url) << c.Gnome.Mode;
    EXPECT_EQ(cfg.Bypass, c.Bypass) << c.Gnome.Mode;
  }
}

// GIO's key-file back end stands in for dconf: the real schema, read through GSettings. GIO reads
// its back-end choice once per process, so this is the only test here that reaches GIO.
TEST(ProxyDiscovery, GnomeSettingsReadThroughGio) {
  std::string dir = test::TestRoot() + "/config/glib-2.0/settings";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/keyfile") << "[system/proxy]\nmode='manual'\n"
                                     "ignore-hosts=['gw.example.com', 'localhost']\n"
                                     "[system/proxy/http]\nhost='p1'\nport=3128\n"
                                     "[system/proxy/https]\nhost='p2'\nport=8443\n";
  setenv("GSETTINGS_BACKEND", "keyfile", 1);
  unsetenv("http_proxy");
  TGnomeProxySettings gnome;
  ASSERT_TRUE(ReadGnomeProxySettings(gnome)) << "GIO or gsettings-desktop-schemas missing";
  EXPECT_EQ(gnome.Mode, "manual");
  EXPECT_EQ(gnome.IgnoreHosts, (TList{"gw.example.com", "localhost"}));
  TList list;
  bool direct = true;
  ASSERT_TRUE(DetectProxyForHost("gw2", list, direct));
  EXPECT_FALSE(direct);
  EXPECT_EQ(list, (TList{"http=p1:3128", "https=p2:8443"}));
  ASSERT_TRUE(DetectProxyForHost("GW.example.com", list, direct));
  EXPECT_TRUE(direct);
}

}  // namespace
}  // namespace vantrel
