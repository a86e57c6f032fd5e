// A first-protocol session against the reference gateway and availability server: start-up to
// ready with its desktops, the reports in the order the window receives them, and destruction
// during start-up.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/DbMng.h"
#include "control/Locals.h"
#include "platform/Dialogs.h"
#include "platform/Window.h"
#include "session/VantrelTCSMng.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"

namespace vantrel::test {
namespace {

constexpr int kHangGuardMs = 60000;

testpeer::TAvailHost Desk(const std::string& prmAddress, const std::string& prmID) {
  testpeer::TAvailHost h;
  h.Address = prmAddress;
  h.SetAttr("ID", prmID);
  h.SetAttr("Desc", "Desk " + prmID);
  return h;
}

class SessionStartup : public ::testing::Test {
 protected:
  SessionStartup()
      : m_Window([this](uint32_t prmMsg, uintptr_t prmW, intptr_t prmL) {
          bool handled = false;
          if (m_Mng) m_Mng->MsgProc(prmMsg, prmW, prmL, handled);
          if (handled) return intptr_t{0};
          if (prmMsg == WM_TCSStateNotify) {
            if (auto rec = m_UI.TakeStatusInfo(prmL))
              m_Seen.push_back("S" + std::to_string(rec->ID));
          } else if (prmMsg == WM_ReportError) {
            if (auto rec = m_UI.TakeErrorInfo(prmL))
              m_Seen.push_back("E" + std::to_string(rec->ErrorID) + ":" + rec->Extra.value_or(""));
          }
          return intptr_t{0};
        }),
        m_UI(&m_Window, &m_DB) {
    // Any program found on PATH stands in for the RDP client.
    setenv("VANTREL_RDP_CLIENT", "true", 1);
  }
  ~SessionStartup() override { m_Mng.reset(); }

  void StartPeers(testpeer::TAvailScenario prmAvail, testpeer::TGatewayScenario prmGateway = {}) {
    m_Avail = std::make_unique<testpeer::TAvailabilityServer>(std::move(prmAvail));
    m_Avail->Start();
    m_Gateway = std::make_unique<testpeer::TGatewayPeer>(
        testpeer::DemoGatewayScenario(std::move(prmGateway), m_Avail->HostPort()));
    m_Gateway->Start();
  }

  void MakeManager() {
    m_DB.SetOstraServer(testpeer::kDemoAvailAddress);
    m_Mng = std::make_unique<TVantrelTCSMng>(m_UI, &m_Window, m_Dialogs);
    m_Mng->SetPlatformType(PLATFORM_TYPE_MORV);
    m_Mng->SetZUVParams("127.0.0.1", m_Gateway->Port(), "sid=abc", "sess-1", "mod-1");
    m_Mng->SetDBMng(&m_DB);
  }

  // Status ids with repeats of the same id (progress of one fetch) folded.
  std::vector<std::string> Folded() const {
    std::vector<std::string> out;
    for (const auto& s : m_Seen)
      if (out.empty() || out.back() != s) out.push_back(s);
    return out;
  }

  TDBMng m_DB;
  TWindow m_Window;
  TTCSUserInterface m_UI;
  TScriptedDialogs m_Dialogs;
  std::vector<std::string> m_Seen;  // window thread only
  std::unique_ptr<testpeer::TAvailabilityServer> m_Avail;
  std::unique_ptr<testpeer::TGatewayPeer> m_Gateway;
  std::unique_ptr<TVantrelTCSMng> m_Mng;
};

TEST_F(SessionStartup, FirstProtocolSessionBecomesReadyWithItsDesktops) {
  testpeer::TAvailScenario sc;
  sc.Version = "4.0.2";
  sc.Settings = {{"keepalive", "1"}};
  sc.Hosts = {Desk("10.0.0.5", "10.0.0.5"), Desk("10.0.0.6", "10.0.0.6")};
  StartPeers(sc);
  MakeManager();

  TEvent done(true);
  bool ready = false;
  std::thread startup([&] {
    ready = m_Mng->ConnectStart();
    done.Set();
  });
  ASSERT_TRUE(m_Window.WaitHandlingMessages(done, kHangGuardMs));
  startup.join();
  m_Window.ProcessMessages();

  EXPECT_TRUE(ready);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"S1", "S3", "S10", "S11", "S4"}));
  ASSERT_EQ(m_Mng->GetHosts().size(), 2u);
  EXPECT_EQ(m_Mng->GetHosts()[0]->GetID(), "10.0.0.5");
  EXPECT_EQ(m_Mng->GetOstraServerVersion().VerMaj, 4);
  EXPECT_EQ(m_DB.GetOstraInstance(), "inst1");
  // The information request is always made twice; the catalogue once, with the portal session.
  EXPECT_EQ(m_Avail->Requests("/query/info").size(), 2u);
  auto hosts = m_Avail->WaitForRequest("/query/hosts", kHangGuardMs);
  ASSERT_TRUE(hosts);
  EXPECT_EQ(m_Avail->Requests("/query/info")[0].Param("_sessid"), "sess-1");
  EXPECT_EQ(hosts->Param("_devtype"), "1");
  ASSERT_TRUE(m_Gateway->WaitForLogRecords(1, kHangGuardMs));
  EXPECT_EQ(m_Gateway->LogRecords()[0].Message, "Vantrel Client Started");
  // The server's keep-alive setting reaches the tunnel.
  EXPECT_TRUE(m_Gateway->WaitForCounters(
      [](const testpeer::TPeerCounters& prmC) { return prmC.Keepalives >= 1; }, kHangGuardMs));
}

TEST_F(SessionStartup, DestructionWhileTheTunnelIsNotUpIsBounded) {
  testpeer::TGatewayScenario gw;
  gw.TunnelUpCode = 0;  // the gateway never says the tunnel is up
  StartPeers({}, gw);
  MakeManager();
  TEvent done(true);
  std::thread startup([&] {
    EXPECT_FALSE(m_Mng->ConnectStart());
    done.Set();
  });
  ASSERT_TRUE(m_Gateway->WaitForHttpRequest(kHangGuardMs));
  m_Mng.reset();
  EXPECT_TRUE(done.Wait(kHangGuardMs));
  startup.join();
}

TEST_F(SessionStartup, DestructionWhileTheServerIsSilentIsBounded) {
  testpeer::TAvailScenario sc;
  testpeer::TAvailFault silent;
  silent.Path = "/query/info";
  silent.Silent = true;
  sc.Faults = {silent};
  StartPeers(sc);
  MakeManager();
  TEvent done(true);
  std::thread startup([&] {
    EXPECT_FALSE(m_Mng->ConnectStart());
    done.Set();
  });
  ASSERT_TRUE(m_Avail->WaitForRequest("/query/info", kHangGuardMs));
  m_Mng.reset();
  EXPECT_TRUE(done.Wait(kHangGuardMs));
  startup.join();
}

}  // namespace
}  // namespace vantrel::test
