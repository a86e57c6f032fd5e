// The control against the reference gateway and availability server on loopback: a page in
// custom-portal mode starts it with its parameters and sees the session's reports as events;
// a control released during start-up stops it and goes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "ControlTestKit.h"
#include "support/ScriptedDialogs.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"

namespace vantrel::test::control {
namespace {

class ControlPeerTest : public ::testing::Test {
 protected:
  ControlPeerTest() {
    // Any program found on PATH stands in for the RDP client.
    setenv("VANTREL_RDP_CLIENT", "true", 1);
  }

  void StartPeers(testpeer::TAvailScenario prmAvail, testpeer::TGatewayScenario prmGateway = {}) {
    m_Avail = std::make_unique<testpeer::TAvailabilityServer>(std::move(prmAvail));
    m_Avail->Start();
    m_Gateway = std::make_unique<testpeer::TGatewayPeer>(
        testpeer::DemoGatewayScenario(std::move(prmGateway), m_Avail->HostPort()));
    m_Gateway->Start();
  }

  void LoadAndInit() {
    m_X = std::make_unique<TVantrelTCSX>(m_Dialogs);
    m_X->Advise(&m_Sink);
    TMapPropertyBag bag(
        {{"platform", "Morv"},
         {"sp_name", "127.0.0.1"},
         {"sp_port", std::to_string(m_Gateway->Port())},
         {"SPCookies", "sid=abc"},
         {"session_id", "sess-1"},
         {"custom_portal", "1"},
         {"config_str", ConfigStr({{12, "10"}, {13, testpeer::kDemoAvailAddress}})}});
    ASSERT_EQ(m_X->Load(bag), S_OK);
    ASSERT_TRUE(m_X->Invoke("InitTCS", TDispKind::Method).Ok());
  }

  static testpeer::TAvailHost Desk(const std::string& prmID) {
    testpeer::TAvailHost h;
    h.Address = prmID;
    h.SetAttr("ID", prmID);
    h.SetAttr("Desc", "Desk " + prmID);
    return h;
  }

  TScriptedDialogs m_Dialogs;
  TRecordingSink m_Sink;
  std::unique_ptr<testpeer::TAvailabilityServer> m_Avail;
  std::unique_ptr<testpeer::TGatewayPeer> m_Gateway;
  std::unique_ptr<TVantrelTCSX> m_X;
};

TEST_F(ControlPeerTest, PageStartsTheSessionAndSeesItsDesktops) {
  testpeer::TAvailScenario sc;
  sc.Version = "4.0.2";
  sc.Hosts = {Desk("10.0.0.5"), Desk("10.0.0.6")};
  StartPeers(sc);
  LoadAndInit();
  ASSERT_TRUE(m_X->Window().WaitHandlingMessages(m_X->StartupDoneEvent(), kHangGuardMs));
  m_X->Window().ProcessMessages();

  ASSERT_FALSE(m_Sink.Events.empty());
  EXPECT_EQ(m_Sink.Events.front(), "S1/0:");
  EXPECT_EQ(m_Sink.Events.back(), "S6/0:");
  for (const auto& e : m_Sink.Events) EXPECT_NE(e[0], 'E') << e;
  EXPECT_EQ(m_X->Invoke("IsConnected", TDispKind::PropertyGet).Value, Variant(1));
  ASSERT_EQ(m_X->Invoke("RegDesktopsCount", TDispKind::PropertyGet).Value, Variant(2));
  ASSERT_TRUE(m_X->Invoke("SetCurDesktop", TDispKind::Method, {Variant(1)}).Ok());
  EXPECT_EQ(m_X->Invoke("DesktopDesc", TDispKind::PropertyGet).Value, Variant("Desk 10.0.0.6"));
  // The page's session identifier reached the availability server through the tunnel.
  ASSERT_FALSE(m_Avail->Requests("/query/info").empty());
  EXPECT_EQ(m_Avail->Requests("/query/info")[0].Param("_sessid"), "sess-1");
}

TEST_F(ControlPeerTest, ReleasingTheControlDuringStartUpEndsTheStartUp) {
  testpeer::TAvailScenario sc;
  testpeer::TAvailFault silent;
  silent.Path = "/query/info";
  silent.Silent = true;
  sc.Faults = {silent};
  StartPeers(sc);
  LoadAndInit();
  ASSERT_TRUE(m_Avail->WaitForRequest("/query/info", kHangGuardMs));
  // The start-up thread is inside the session's start-up, waiting for the server; the release
  // stops it and joins it, and no report reaches the page afterwards.
  m_X.reset();
  EXPECT_EQ(m_Sink.Events, std::vector<std::string>{"F205"});
}

}  // namespace
}  // namespace vantrel::test::control
