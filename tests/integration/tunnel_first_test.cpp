// What only the first protocol's tunnel does: its request and init message, alternative
// credentials, probes, keepalives on an interval and the reachability check after a loss.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Window.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;

TEST_F(TFirstTunnelTest, OpensTheTunnelWithTheExactRequestAndInitMessage) {
  Connect();
  EXPECT_EQ(m_Peer->HttpRequest(), BuildTunnelRequest("127.0.0.1", "sid=abc", "dev-7"));
  auto init = m_Peer->WaitForMessage(mcInit, kWaitMs);
  ASSERT_TRUE(init);
  EXPECT_EQ(init->Header, TBytes({15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(m_Mng->IsConnected());
  EXPECT_EQ(m_Mng->GetSessCookie(), "sid=abc");
  EXPECT_TRUE(m_Peer->Errors().empty());
}

TEST_F(TFirstTunnelTest, AlternativeCredentialsAnswerWithoutAMessageUnlessRefused) {
  TGatewayScenario sc;
  sc.UserName = "bob";
  Connect(sc);
  m_Mng->SetAltCred("alt", "altpw");
  EXPECT_EQ(m_Mng->GetUsername(false), "alt");
  EXPECT_EQ(m_Mng->GetPassword(false), "altpw");
  EXPECT_EQ(m_Mng->GetUsername(true), "bob");
  // Answered in order: the one name request the gateway saw is the last call's.
  EXPECT_EQ(m_Peer->ReceivedMessages(mcUserName).size(), 1u);
  EXPECT_TRUE(m_Peer->ReceivedMessages(mcPassword).empty());
  EXPECT_TRUE(m_Peer->Errors().empty());
}

TEST_F(TFirstTunnelTest, ProbeGetsExactlyOneAnswer) {
  Connect();
  ASSERT_TRUE(m_Peer->SendProbe());
  ASSERT_TRUE(m_Peer->WaitForCounters([](auto& c) { return c.ProbeAnswers >= 1; }, kWaitMs));
  uint32_t idle, life;
  m_Mng->GetTimers(idle, life);  // a round trip after the first answer
  EXPECT_EQ(m_Peer->ProbeAnswers(), 1);
}

TEST_F(TFirstTunnelTest, KeepalivesFollowTheIntervalAndRestartCounting) {
  Connect();
  EXPECT_EQ(m_Peer->KeepaliveCount(), 0);
  m_Mng->SetKeepAliveInterval(-1);
  EXPECT_EQ(m_Mng->GetKeepAliveInterval(), 60);
  m_Mng->SetKeepAliveInterval(1);
  // Only a count that starts again after each keepalive reaches the interval a second time.
  EXPECT_TRUE(m_Peer->WaitForCounters([](auto& c) { return c.Keepalives >= 2; }, kWaitMs));
  m_Mng->SetKeepAliveInterval(0);
}

TEST_F(TFirstTunnelTest, DestructionDuringReachabilityCheckIsPrompt) {
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  Connect();
  m_Mng->RegisterOnClose(&wnd, WM_USER + 1);
  m_Mng->SetReConnectMSGID(WM_USER + 12);
  // The gateway goes away for good: the check would try 90 times.
  m_Peer->Stop();
  for (int i = 0; i < 200 && seen.empty(); ++i) wnd.WaitMessage(100);
  ASSERT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1}));
  m_Mng.reset();  // on the window thread, while the check runs
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace vantrel::test
