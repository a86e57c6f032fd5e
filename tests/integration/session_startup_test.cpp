// A first-protocol session against the reference gateway and availability server: start-up to
// ready with its desktops, the reports in the order the window receives them, and destruction
// during start-up.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/DbMng.h"
#include "control/Locals.h"
#include "platform/Dialogs.h"
#include "platform/Window.h"
#include "session/VantrelTCSMng.h"
#include "support/ScriptedDialogs.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "tunnel_fixture.h"

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
          } else if (prmMsg == WM_TimeoutAlert) {
            m_Seen.push_back("A" + std::to_string(prmW) + ":" + std::to_string(prmL));
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

  // prmPort: the gateway's unless given.
  void MakeManager(uint16_t prmPort = 0) {
    m_DB.SetOstraServer(testpeer::kDemoAvailAddress);
    m_Mng = std::make_unique<TVantrelTCSMng>(m_UI, &m_Window, m_Dialogs);
    m_Mng->SetPlatformType(PLATFORM_TYPE_MORV);
    m_Mng->SetZUVParams("127.0.0.1", prmPort != 0 ? prmPort : m_Gateway->Port(), "sid=abc",
                        "sess-1", "mod-1");
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
  EXPECT_EQ(Folded(), (std::vector<std::string>{"S1", "S3", "S10", "S7", "S11", "S4"}));
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
  // The manager goes on this thread meanwhile: the pointer is read before.
  std::thread startup([&, mng = m_Mng.get()] {
    EXPECT_FALSE(mng->ConnectStart());
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
  // The manager goes on this thread meanwhile: the pointer is read before.
  std::thread startup([&, mng = m_Mng.get()] {
    EXPECT_FALSE(mng->ConnectStart());
    done.Set();
  });
  ASSERT_TRUE(m_Avail->WaitForRequest("/query/info", kHangGuardMs));
  m_Mng.reset();
  EXPECT_TRUE(done.Wait(kHangGuardMs));
  startup.join();
}

// Destruction ends the session within a bound whatever step the gateway stalls at, with the
// idle/lifetime monitor waiting for an answer too.
TEST_F(SessionStartup, DestructionAtAnyStalledStepIsPrompt) {
  using TPeer = testpeer::TGatewayPeer;
  struct TCase {
    const char* Name;
    std::function<void(testpeer::TGatewayScenario&)> Setup;
    std::function<bool(TPeer*)> Reached;  // nullptr: a gateway that never starts TLS
    bool Ready;
  };
  const TCase cases[] = {
      {"no TLS handshake", {}, nullptr, false},
      {"reply never comes", [](auto& prmSc) { prmSc.HttpReplyDelayMs = -1; },
       [](TPeer* prmPeer) { return prmPeer->WaitForHttpRequest(kHangGuardMs); }, false},
      {"tunnel-up never sent", [](auto& prmSc) { prmSc.TunnelUpCode = 0; },
       [](TPeer* prmPeer) { return prmPeer->WaitForMessage(mcInit, kHangGuardMs).has_value(); },
       false},
      {"gateway frozen", [](auto& prmSc) { prmSc.SilentCodes = {mcTimers}; },
       [](TPeer* prmPeer) { return prmPeer->WaitForMessage(mcTimers, kHangGuardMs).has_value(); },
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    testpeer::TAvailScenario avail;
    avail.Settings = {{"lifetimealert", "300"}};
    testpeer::TGatewayScenario gw;
    gw.IdleTime = gw.LifeTime = 1000;
    if (c.Setup) c.Setup(gw);
    StartPeers(avail, gw);
    TDeafGateway deaf;
    MakeManager(c.Reached ? 0 : deaf.Port());
    TEvent done(true);
    bool ready = false;
    std::thread startup([&, mng = m_Mng.get()] {
      ready = mng->ConnectStart();
      done.Set();
    });
    if (c.Reached) {
      ASSERT_TRUE(c.Reached(m_Gateway.get()));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (c.Ready) {
      ASSERT_TRUE(m_Window.WaitHandlingMessages(done, kHangGuardMs));
    }
    const auto start = std::chrono::steady_clock::now();
    m_Mng.reset();
    EXPECT_TRUE(done.Wait(kHangGuardMs));
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    startup.join();
    EXPECT_EQ(ready, c.Ready);
  }
}

// A lost gateway is reported once as status 8, then error 28 once it answers again, and the
// monitor that was warning about the session's lifetime stops: the lost tunnel's empty answers
// are no expiry.
TEST_F(SessionStartup, LossIsReportedAndEndsTheTimeoutAlerts) {
  const std::function<void(testpeer::TGatewayPeer&)> faults[] = {
      [](testpeer::TGatewayPeer& prmPeer) { ASSERT_TRUE(prmPeer.CloseControlConnection()); },
      [](testpeer::TGatewayPeer& prmPeer) {
        ASSERT_TRUE(prmPeer.SendRaw(testpeer::EncodeHeader(
            testpeer::TProtocol::First, testpeer::GatewayHeader(mcData, 1, 0x7fffffff))));
      },
  };
  for (const auto& fault : faults) {
    testpeer::TAvailScenario avail;
    avail.Settings = {{"lifetimealert", "300"}};
    testpeer::TGatewayScenario gw;
    gw.IdleTime = 1000;
    gw.LifeTime = 200;  // within the alert: the monitor asks every half second
    StartPeers(avail, gw);
    MakeManager();
    m_Seen.clear();
    TEvent done(true);
    std::thread startup([&] {
      EXPECT_TRUE(m_Mng->ConnectStart());
      done.Set();
    });
    ASSERT_TRUE(m_Window.WaitHandlingMessages(done, kHangGuardMs));
    startup.join();
    auto has = [&](const std::string& prmEntry) {
      return std::find(m_Seen.begin(), m_Seen.end(), prmEntry) != m_Seen.end();
    };
    for (int i = 0; i < 200 && !has("A2:200"); ++i) m_Window.WaitMessage(50);
    ASSERT_TRUE(has("A2:200"));
    fault(*m_Gateway);
    for (int i = 0; i < 200 && !has("S8"); ++i) m_Window.WaitMessage(50);
    ASSERT_TRUE(has("S8"));
    // The gateway still answers probes: the reconnect notice follows, after the loss. The wait
    // also spans several more monitor rounds, had the monitor gone on.
    for (int i = 0; i < 200 && !has("E28:"); ++i) m_Window.WaitMessage(50);
    auto at = [&](const std::string& prmEntry) {
      return std::find(m_Seen.begin(), m_Seen.end(), prmEntry) - m_Seen.begin();
    };
    ASSERT_TRUE(has("E28:"));
    EXPECT_LT(at("S8"), at("E28:"));
    EXPECT_EQ(std::count(m_Seen.begin(), m_Seen.end(), "S8"), 1);
    EXPECT_FALSE(has("A2:-1"));
    EXPECT_FALSE(has("A1:-1"));
    m_Mng.reset();
  }
}

}  // namespace
}  // namespace vantrel::test
