#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/Window.h"
#include "support/LogCapture.h"
#include "tunnel/LegacyWire.h"
#include "tunnel_legacy_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;

TBytes Bytes(const std::string& prmText) {
  return TBytes(prmText.begin(), prmText.end());
}

std::string InitError(CAppMngPelx& prmMng) {
  try {
    prmMng.InitControlConnection();
  } catch (const EBaseException& e) {
    return e.GetMsg();
  }
  return "";
}

TEST_F(TLegacyTunnelTest, OpensWithExactRequestSessionInitAndModuleIdentifier) {
  struct TCase {
    std::string Sess, Payload;
  };
  for (const TCase& c : {TCase{"abc+XYZ", "XYZ"}, TCase{"abc", ""}}) {
    Connect({}, c.Sess, "mod-1");
    EXPECT_EQ(m_Peer->HttpRequest(), BuildLegacyTunnelRequest("sid=abc"));
    auto init = m_Peer->WaitForMessage(mcInit, kWaitMs);
    ASSERT_TRUE(init);
    TBytes hdr(13, 0);
    hdr[0] = 15;
    hdr[12] = static_cast<uint8_t>(c.Payload.size());
    EXPECT_EQ(init->Header, hdr) << c.Sess;
    EXPECT_EQ(init->Payload, Bytes(c.Payload)) << c.Sess;
    auto mod = m_Peer->WaitForMessage(mcModuleID, kWaitMs);
    ASSERT_TRUE(mod);
    EXPECT_EQ(mod->Payload, Bytes("mod-1"));
    EXPECT_TRUE(m_Mng->IsConnected());
    EXPECT_TRUE(m_Peer->Errors().empty());
    TearDown();
  }
}

TEST_F(TLegacyTunnelTest, OnlyTheExactReplyOpensTheTunnel) {
  const std::string ok = "HTTP/1.1 200 Connection Established\r\n\r\n";
  for (const std::string& reply : {ok + "x", std::string("HTTP/1.1 200 OK\r\n\r\n")}) {
    TGatewayScenario sc;
    sc.HttpReply = reply;
    StartPeer(sc);
    EXPECT_EQ(InitError(*m_Mng), "Gateway did not open control connection") << reply;
    EXPECT_FALSE(m_Mng->IsReady(0));
    TearDown();
  }
}

TEST_F(TLegacyTunnelTest, ModuleIdentifierOf510BytesOrMoreIsNotSent) {
  for (size_t len : {509u, 510u, 600u}) {
    Connect({}, "a+b", std::string(len, 'm'));
    // The identifier goes out before the ready event is set, so it is recorded by now or never.
    ASSERT_TRUE(m_Peer->WaitForMessage(mcInit, kWaitMs));
    m_Mng->ResetTimers();
    ASSERT_TRUE(m_Peer->WaitForMessage(mcResetTimers, kWaitMs));
    auto mods = m_Peer->ReceivedMessages(mcModuleID);
    if (len < kMaxModuleIDLen) {
      ASSERT_EQ(mods.size(), 1u);
      EXPECT_EQ(mods[0].Payload.size(), len);
    } else {
      EXPECT_TRUE(mods.empty()) << len;
    }
    EXPECT_TRUE(m_Mng->IsConnected());
    TearDown();
  }
}

TEST_F(TLegacyTunnelTest, RequestsGetTheGatewaysAnswers) {
  TGatewayScenario sc;
  sc.IdleTime = 300;
  sc.LifeTime = 7200;
  sc.UserName = "bob";
  sc.Password = "pw";
  sc.Hosts["desk.example"] = "127.0.0.5";
  Connect(sc);
  uint32_t idle = 0, life = 0;
  m_Mng->GetTimers(idle, life);
  EXPECT_EQ(idle, 300u);
  EXPECT_EQ(life, 7200u);
  EXPECT_EQ(FormatNetAddress(m_Mng->ResolveHost("desk.example")), "127.0.0.5");
  // No alternative credentials in this protocol: the gateway is always asked.
  EXPECT_EQ(m_Mng->GetUsername(false), "bob");
  EXPECT_EQ(m_Mng->GetPassword(false), "pw");
  EXPECT_EQ(m_Mng->ResolveHost(std::string(kMaxHostNameLen + 1, 'h')), 0xFFFFFFFFu);
  m_Mng->SendLogMsg(6, "abc", 0, "", "hi");
  ASSERT_TRUE(m_Peer->WaitForLogRecords(1, kWaitMs));
  EXPECT_EQ(m_Peer->LogRecords()[0].Message, "hi");
  EXPECT_TRUE(m_Peer->Errors().empty());
}

TEST_F(TLegacyTunnelTest, KeepaliveAfterTheIdleIntervalWithoutBeingEnabled) {
  Connect();
  m_Mng->SetKeepAliveSeconds(1);
  auto ka = m_Peer->WaitForMessage(mcKeepAlive, kWaitMs);
  ASSERT_TRUE(ka);
  EXPECT_EQ(ka->Header, TBytes({13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(m_Mng->kKeepAliveSecs, 60);
}

TEST_F(TLegacyTunnelTest, LossTellsTheWindowThenTheCallbackAndEndsRequests) {
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  TGatewayScenario sc;
  sc.SilentCodes = {18};
  Connect(sc);
  std::atomic<bool> called{false};
  m_Mng->RegisterOnClose(&wnd, WM_USER + 7);
  m_Mng->RegisterOnCloseCallback([&] { called = true; });
  auto pending = std::async(std::launch::async, [&] { return m_Mng->GetUsername(true); });
  ASSERT_TRUE(m_Peer->WaitForMessage(mcUserName, kWaitMs));
  ASSERT_TRUE(m_Peer->CloseControlConnection());
  for (int i = 0; i < 400 && seen.empty(); ++i) wnd.WaitMessage(50);
  EXPECT_EQ(seen, std::vector<uint32_t>{WM_USER + 7});
  EXPECT_EQ(pending.get(), "");
  EXPECT_TRUE(Eventually([&] { return called.load(); }));
  EXPECT_FALSE(m_Mng->IsConnected());
  EXPECT_FALSE(m_Mng->IsReady(0));
}

TEST_F(TLegacyTunnelTest, UnknownAndFirstProtocolOnlyCodesAreSkipped) {
  TGatewayScenario sc;
  sc.UserName = "bob";
  Connect(sc);
  // 5, 15, 81 and 83 mean nothing here: their payloads are read and dropped, no answer is sent.
  for (uint32_t code : {5u, 15u, 81u, 83u, 99u})
    ASSERT_TRUE(m_Peer->SendMessage(code, 0, TBytes(10, 0xEE)));
  // Answered in order after them: the reader is still on message boundaries.
  EXPECT_EQ(m_Mng->GetUsername(true), "bob");
  EXPECT_EQ(m_Peer->ProbeAnswers(), 0);
  EXPECT_TRUE(m_Mng->IsConnected());
}

}  // namespace
}  // namespace vantrel::test
