// What only the legacy-header tunnel does: its request, session-init and module-identifier
// messages, the fixed keepalive, and codes that mean something only in the first protocol.
#include <gtest/gtest.h>

#include <string>

#include "tunnel/LegacyWire.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;

TBytes Bytes(const std::string& prmText) {
  return TBytes(prmText.begin(), prmText.end());
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

TEST_F(TLegacyTunnelTest, KeepaliveAfterTheIdleIntervalWithoutBeingEnabled) {
  Connect();
  m_Mng->SetKeepAliveSeconds(1);
  auto ka = m_Peer->WaitForMessage(mcKeepAlive, kWaitMs);
  ASSERT_TRUE(ka);
  EXPECT_EQ(ka->Header, TBytes({13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(m_Mng->kKeepAliveSecs, 60);
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
