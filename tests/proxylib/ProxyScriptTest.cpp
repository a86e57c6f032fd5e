// What the desktop's settings and their auto-configuration script give for a host, and how a
// script's answer becomes one host and port.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "proxylib/BrowserProxySetting.h"
#include "proxylib/ProxyIni.h"
#include "proxylib/ProxyScript.h"
#include "support/TestEnv.h"

namespace vantrel::proxylib {
namespace {

namespace fs = std::filesystem;

TEST(ProxyAnswer, FirstEntryGivesHostAndPort) {
  const struct {
    const char* Answer;
    bool Ok;
    const char* Host;
    int Port;
  } cases[] = {
      {"PROXY p:8080; PROXY q:3128; DIRECT", true, "p", 8080},
      {"PROXY p; DIRECT", true, "p", 0},
      {"PROXY p:", true, "p", 0},
      {"SOCKS s:1080", true, "s", 1080},
      {"PROXY   p ; DIRECT", true, "p", 0},
      {"PROXY [fe80::1]:3128", true, "[fe80::1]", 3128},
      {"PROXY [fe80::1]", true, "[fe80::1]", 0},
      {"PROXY p:70000", true, "p", 70000 & 0xFFFF},
      {"PROXY [fe80::1:3128", false, "", 0},
      {"PROXY fe80::1]:3128", false, "", 0},
      {"PROXY ;p:1", false, "", 0},
      {"PROXY  \t ", false, "", 0},
      {"DIRECT; PROXY p:8080", false, "", 0},
      {"proxy p:8080", false, "", 0},
      {"PROXY", false, "", 0},
      {"junk", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host = "x";
    uint16_t port = 1;
    EXPECT_EQ(ParseScriptAnswer(c.Answer, host, port), c.Ok) << c.Answer;
    if (c.Ok) {
      EXPECT_EQ(host, c.Host) << c.Answer;
      EXPECT_EQ(port, c.Port) << c.Answer;
    }
  }
  std::string host;
  uint16_t port = 0;
  ASSERT_TRUE(ParseProxyString(" " + std::string(300, 'h') + ":1", host, port));
  EXPECT_EQ(host.size(), kMaxProxyHost);
}

// The desktop's settings as a test fixes them.
class TFixedSettings : public IProxyConfigSource {
 public:
  explicit TFixedSettings(TProxyConfig prmConfig, bool prmReadable = true)
      : m_Config(std::move(prmConfig)), m_Readable(prmReadable) {}
  bool Read(TProxyConfig& prmConfig) override {
    prmConfig = m_Config;
    return m_Readable;
  }

 private:
  TProxyConfig m_Config;
  bool m_Readable;
};

std::string Save(const TProxyConfig& prmConfig, const std::string& prmHost = "gw.example.com") {
  CBrowserProxySetting::OnClear();
  return CBrowserProxySetting(std::make_unique<TFixedSettings>(prmConfig)).OnSave(prmHost);
}

std::string Pac(const std::string& prmName, const std::string& prmBody) {
  std::string path = test::TestRoot() + "/tmp/" + prmName;
  std::ofstream(path) << "function FindProxyForURL(url, host) { " << prmBody << " }";
  return path;
}

class BrowserSetting : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(ProxyIniPath().substr(0, ProxyIniPath().rfind('/'))); }
  std::string Key(const char* prmKey) {
    return CProxyIni().ReadText(kOutsideProxyConfig, prmKey, "<absent>", 8192);
  }
};

TEST_F(BrowserSetting, ProxyTextFollowsTheSettings) {
  TProxyConfig manual;
  manual.Flags = kProxyFlagDirect | kProxyFlagProxy;
  manual.Server = "http=p1:8080;https=p2:8443";
  manual.Bypass = "localhost;" + std::string(5000, 'b');
  EXPECT_EQ(Save(manual), "http=p1:8080;https=p2:8443");
  EXPECT_EQ(Key("IE_Proxy_Flag"), "3");
  EXPECT_EQ(Key("IE_Proxy_ByPass").size(), 4096u);
  EXPECT_EQ(Key("Proxy_Script_Running"), "0");
  std::string text;
  {
    std::ifstream in(ProxyIniPath(), std::ios::binary);
    std::getline(in, text, '\0');
  }
  std::string keys;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    keys += text.substr(at + 1, text.find('=', at) - at - 1) + " ";
  EXPECT_EQ(keys,
            "IE_Proxy_Auto_Flag IE_Proxy_ByPass IE_Proxy_Flag IE_Proxy_Script IE_Proxy_Server "
            "IE_Proxy_Should_Resume Proxy_SSL_Host Proxy_SSL_Port Proxy_Script_Running  ");
  EXPECT_EQ(text.substr(0, 24), "[OUTSIDE_PROXY_CONFIG]\r\n");

  TProxyConfig script = manual;
  script.Flags |= kProxyFlagAutoProxyUrl;
  script.AutoConfigUrl =
      "file://" + Pac("ok.pac", "return 'PROXY ' + host + '.proxy:3128; DIRECT';");
  EXPECT_EQ(Save(script), "gw.example.com.proxy:3128") << "the script wins over the server";
  EXPECT_EQ(Key("Proxy_SSL_Host"), "gw.example.com.proxy");
  EXPECT_EQ(Key("Proxy_SSL_Port"), "3128");

  script.AutoConfigUrl = "file://" + Pac("bad.pac", "throw 'bad';");
  EXPECT_EQ(Save(script), ":");
  EXPECT_EQ(Key("Proxy_Script_Running"), "1");
  EXPECT_EQ(Key("Proxy_SSL_Host"), "<absent>");

  TProxyConfig none;
  none.Flags = 0;
  EXPECT_EQ(Save(none), "");
  EXPECT_EQ(Key("IE_Proxy_Flag"), "1");
  EXPECT_EQ(CBrowserProxySetting(std::make_unique<TFixedSettings>(manual, false)).OnSave("h"), "");
}

TEST_F(BrowserSetting, ScriptSourcesAndTheStoredResult) {
  std::string host;
  uint16_t port = 0;
  std::string ok = Pac("direct.pac", "return 'PROXY p:1';");
  EXPECT_FALSE(ParseProxyHostAndPortForURL("http://127.0.0.1:1/x.pac", "h", host, port));
  EXPECT_FALSE(ParseProxyHostAndPortForURL("", "h", host, port));
  EXPECT_FALSE(ParseProxyHostAndPortForURL("file://" + ok, "", host, port));
  ASSERT_TRUE(ParseProxyHostAndPortForURL("file://" + ok, "h", host, port));
  EXPECT_EQ(host + ":" + std::to_string(port), "p:1");
  ASSERT_TRUE(ParseProxyHostAndPortForURL(ok, "h", host, port)) << "a plain path is a file";
  // A URL that names no readable file never falls back to an earlier evaluation's script.
  EXPECT_FALSE(ParseProxyHostAndPortForURL("https://127.0.0.1/x.pac", "h", host, port));
  EXPECT_FALSE(fs::exists(TempScriptPath()));

  // A stored result left by a failed evaluation is reused as it stands.
  TProxyConfig script;
  script.Flags = kProxyFlagAutoProxyUrl;
  script.AutoConfigUrl = "file://" + Pac("fail.pac", "return 'DIRECT';");
  EXPECT_EQ(Save(script), ":");
  ASSERT_TRUE(ParseProxyHostAndPortForURL("file://" + ok, "h", host, port));
  EXPECT_EQ(host + ":" + std::to_string(port), ":0");
}

}  // namespace
}  // namespace vantrel::proxylib
