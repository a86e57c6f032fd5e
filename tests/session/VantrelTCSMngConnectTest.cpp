// Start-up of the session manager: the order of its reports and every failure of start-up.
#include <poll.h>

#include "SessionTestKit.h"
#include "support/TestEnv.h"

namespace vantrel::test::mng {
namespace {

TEST_F(TSessionTest, ReadySessionReportsInOrderAndLoadsDesktops) {
  Make();
  m_Mng->SetZUVParams("gw.example", 8443, "c=1", "sess-9", "mod-3");
  ScriptGoodServer();
  ASSERT_TRUE(Start());
  EXPECT_TRUE(m_Mng->IsReady());
  // The scripted server reports nothing itself; the profile request is the file exchange's own.
  EXPECT_EQ(m_UI.Reports(), (TReports{"S1/0", "S3/0", "S11/0"}));
  EXPECT_EQ(m_FactoryType, PLATFORM_TYPE_MORV);
  EXPECT_EQ(m_FactoryParams.SP, "gw.example");
  EXPECT_EQ(m_FactoryParams.SPPort, 8443);
  EXPECT_EQ(m_FactoryParams.SessID, "sess-9");
  EXPECT_EQ(m_FactoryParams.DevID, m_Mng->GetDevID());
  EXPECT_EQ(m_Tunnel->OnCloseWnd, &m_Window);
  EXPECT_EQ(m_Tunnel->OnCloseMsg, WM_ControlConnLost);
  // The first information answer is never used.
  EXPECT_EQ(m_Server.URLsFor("/query/info").size(), 2u);
  EXPECT_EQ(m_Server.URLsFor("/query/info")[0],
            "http://10.1.1.1:8080/query/info?_devtype=1&_sessid=sess-9&_uname=portal");
  EXPECT_EQ(m_Mng->GetOstraServerVersion().VerMaj, 4);
  EXPECT_EQ(m_Mng->GetOstraServerVersion().BuildNum, 2);
  EXPECT_EQ(m_DB.GetOstraInstance(), "inst-1");
  ASSERT_EQ(m_Mng->GetHosts().size(), 2u);
  EXPECT_EQ(m_Mng->GetHosts()[1]->GetIndex(), 1);
  EXPECT_EQ(m_Mng->GetRDPMajVer(), 10);
  EXPECT_EQ(TunnelLogs(),
            (std::vector<std::pair<int, std::string>>{{6, "Vantrel Client Started"}}));
  EXPECT_FALSE(TunnelDestroyed());
  // A second start-up starts nothing.
  EXPECT_TRUE(m_Mng->ConnectStart());
  EXPECT_EQ(m_UI.Reports("S").size(), 3u);
}

TEST_F(TSessionTest, TunnelFailuresEndStartUpWithoutTunnel) {
  // Control connection never up: status 2 and error 2.
  m_Tunnel->Ready = false;
  Make();
  EXPECT_FALSE(Start());
  EXPECT_EQ(m_UI.Reports(), (TReports{"S1/0", "S2/0", "E2:"}));
  EXPECT_TRUE(TunnelDestroyed());
  EXPECT_EQ(m_Mng->GetProtocol(), nullptr);
  EXPECT_TRUE(m_Server.URLs().empty());
}

TEST_F(TSessionTest, TunnelExceptionsBecomeError3WithTheirText) {
  m_Tunnel->InitThrows = true;
  Make();
  EXPECT_FALSE(Start());
  EXPECT_EQ(m_UI.Reports(), (TReports{"S1/0", "S2/0", "E3:Failed to connect to gateway"}));
  EXPECT_TRUE(TunnelDestroyed());
  EXPECT_EQ(m_Mng->GetProtocol(), nullptr);

  // Failures of other kinds while building the tunnel end start-up the same way.
  m_FactoryThrows = true;
  m_Mng.reset();
  Make();
  EXPECT_FALSE(Start());
  EXPECT_EQ(m_UI.Reports().back(), "E3:no memory for the tunnel");
}

TEST_F(TSessionTest, MissingServerInformationKeepsTunnelButNotReady) {
  Make();
  m_Server.Script("/query/info", {{true, "<x/>"}, {false, ""}});
  EXPECT_FALSE(Start());
  EXPECT_EQ(m_UI.Reports(), (TReports{"S1/0", "S3/0", "E3:Failed to get Ostra Info"}));
  EXPECT_FALSE(TunnelDestroyed());
  EXPECT_NE(m_Mng->GetProtocol(), nullptr);
  EXPECT_TRUE(m_Server.URLsFor("/query/hosts").empty());
}

TEST_F(TSessionTest, LegacyGatewayNeverAsksForServerInformation) {
  Make(PLATFORM_TYPE_PELX);
  ScriptGoodServer();
  EXPECT_TRUE(Start());
  EXPECT_EQ(m_FactoryType, PLATFORM_TYPE_PELX);
  EXPECT_TRUE(m_FactoryParams.DevID.empty());
  EXPECT_TRUE(m_Server.URLsFor("/query/info").empty());
  EXPECT_EQ(m_Mng->GetOstraServerVersion().VerMaj, 0);
  EXPECT_EQ(m_Mng->GetHosts().size(), 2u);
}

TEST_F(TSessionTest, SessionWithoutServerOrStore) {
  // Without an availability server: ready, no desktops, no request.
  m_DB.SetOstraServer("");
  Make(PLATFORM_TYPE_PELX);
  EXPECT_TRUE(Start());
  EXPECT_TRUE(m_Mng->GetHosts().empty());
  EXPECT_TRUE(m_Server.URLs().empty());

  // Without a store: the tunnel comes up but the session is not ready.
  m_Mng.reset();
  m_Tunnel = std::make_shared<TFakeTunnelState>();
  Make(PLATFORM_TYPE_PELX, false);
  EXPECT_FALSE(Start());
  EXPECT_FALSE(TunnelDestroyed());
}

TEST_F(TSessionTest, RdpClientCheckReportsAndGoesOn) {
  struct TCase {
    bool Installed;
    std::string Version;
    int MajVer;
  };
  for (const TCase& c : {TCase{true, "6,1,7600", 6}, TCase{true, "10.0.1", 10},
                         TCase{true, "unknown", 5}, TCase{true, "", 5}}) {
    m_Mng.reset();
    Make(PLATFORM_TYPE_PELX);
    m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(c.Installed, c.Version));
    ScriptGoodServer();
    EXPECT_TRUE(Start());
    EXPECT_EQ(m_Mng->GetRDPMajVer(), c.MajVer) << c.Version;
  }
  // Missing, and the package is not a cabinet: error 4, the gateway told, start-up goes on.
  m_Mng.reset();
  m_Tunnel = std::make_shared<TFakeTunnelState>();
  m_DB.SetTSAgentURL("http://gw/client.msi");
  Make(PLATFORM_TYPE_PELX);
  m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(false, ""));
  ScriptGoodServer();
  EXPECT_TRUE(Start());
  EXPECT_EQ(m_UI.Reports("E").back(), "E4:");
  EXPECT_EQ(TunnelLogs().back(),
            (std::pair<int, std::string>{6, "Failed to install the RDP client"}));
  EXPECT_TRUE(m_Server.URLsFor("client.msi").empty());
}

TEST_F(TSessionTest, RdpPackageThatCannotBeFetchedFailsTheInstallation) {
  setenv("VANTREL_SYSTEM_DIR", TestRoot().c_str(), 1);
  m_DB.SetTSAgentURL("http://10.2.2.2/pkg/msrdp.CAB");
  Make(PLATFORM_TYPE_PELX);
  m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(false, ""));
  ScriptGoodServer();
  EXPECT_TRUE(Start());
  unsetenv("VANTREL_SYSTEM_DIR");
  EXPECT_EQ(m_Server.URLsFor("/pkg/msrdp.CAB").size(), 1u);
  EXPECT_EQ(m_UI.Reports("E"), (TReports{"E4:"}));
}

TEST_F(TSessionTest, DestructionDuringStartUpIsBounded) {
  m_Tunnel->ReadyBlocks = true;
  Make();
  TEvent done(true);
  bool result = true;
  // The manager goes on this thread meanwhile: the pointer is read before.
  std::thread t([&, mng = m_Mng.get()] {
    result = mng->ConnectStart();
    done.Set();
  });
  while (m_Tunnel->IsReadyCalls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  m_Mng.reset();
  EXPECT_TRUE(done.Wait(kHangGuardMs));
  t.join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(TunnelDestroyed());
  // Nothing is reported for a start-up ended by destruction.
  EXPECT_EQ(m_UI.Reports(), (TReports{"S1/0"}));
}

TEST_F(TSessionTest, DestructionEndsAWaitForTheLoginDialog) {
  m_DB.SetExtraAuth(true);
  Make(PLATFORM_TYPE_PELX);
  m_Server.Script("/query/hosts", {{true, kHostsReply}});
  TEvent done(true);
  std::thread t([&, mng = m_Mng.get()] {
    mng->ConnectStart();
    done.Set();
  });
  // The window thread never handles the dialog request; only destruction ends the wait.
  pollfd p{m_Window.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kHangGuardMs), 1);
  m_Mng.reset();
  EXPECT_TRUE(done.Wait(kHangGuardMs));
  t.join();
  EXPECT_TRUE(m_Dialogs.Shown().empty());
}

TEST_F(TSessionTest, StartUpOnTheWindowThreadStillShowsItsDialogs) {
  m_DB.SetExtraAuth(true);
  Make(PLATFORM_TYPE_PELX);
  m_Dialogs.PushLogin("wu", "wp");
  m_Server.Script("/query/hosts", {{true, kHostsReply}});
  EXPECT_TRUE(m_Mng->ConnectStart());
  ASSERT_EQ(m_Dialogs.Shown().size(), 1u);
  EXPECT_NE(m_Server.URLsFor("/query/hosts").at(0).find("_uname=wu&"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::test::mng
