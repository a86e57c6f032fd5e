// A whole session of either protocol through the proxy that the desktop's auto-configuration
// script names for the gateway, with Basic credentials saved in the proxy store beforehand.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/Dialogs.h"
#include "proxy/ProxyUtils.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"
#include "testpeer/ProxyPeerSquid.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

std::string PacPath() {
  return TestRoot() + "/proxy.pac";
}

template <typename TProto>
class ProxyPacSessionTest : public TTunnelTest<TProto> {
 protected:
  // GIO chooses its settings back end once per process, at the discovery the base suite makes:
  // the desktop settings (GIO's key-file back end) must name the script before that.
  static void SetUpTestSuite() {
    const std::string dir = TestRoot() + "/config/glib-2.0/settings";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/keyfile") << "[system/proxy]\nmode='auto'\nignore-hosts=@as []\n"
                                    << "autoconfig-url='file://" << PacPath() << "'\n";
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    TTunnelTest<TProto>::SetUpTestSuite();
  }
};
TYPED_TEST_SUITE(ProxyPacSessionTest, TProtocols, TProtocolNames);

TYPED_TEST(ProxyPacSessionTest, ReachesReadyThroughScriptedProxy) {
  testpeer::TProxyPeerSquid squid("pac", testpeer::kSquidBasic);
  ASSERT_EQ(squid.WaitReady(), "");
  std::ofstream(PacPath()) << "function FindProxyForURL(url, host) {\n"
                           << "  return host == \"127.0.0.1\" ? \"PROXY 127.0.0.1:" << squid.Port()
                           << "\" : \"DIRECT\";\n}\n";
  std::vector<std::string> proxies;
  bool direct = false;
  ASSERT_TRUE(DetectProxyForHost("elsewhere.example", proxies, direct));
  EXPECT_TRUE(direct);
  ASSERT_TRUE(SaveProxyUserAuthInfo("alice", "right-pass", ""));

  this->StartPeer();
  // Only the first protocol's procedure takes saved credentials; the legacy one always asks.
  const bool first = TypeParam::kProtocol == testpeer::TProtocol::First;
  TScriptedDialogs dialogs;
  if (!first) dialogs.PushLogin("alice", "right-pass");
  this->m_Mng->Link().SetDialogs(&dialogs);
  this->m_Mng->InitControlConnection();
  EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
  this->m_Mng.reset();
  EXPECT_EQ(dialogs.Shown().size(), first ? 0u : 1u);
  EXPECT_TRUE(squid.AccessLogShows("CONNECT 127.0.0.1:" + std::to_string(this->m_Port) + " alice"));
}

}  // namespace
}  // namespace vantrel::test
