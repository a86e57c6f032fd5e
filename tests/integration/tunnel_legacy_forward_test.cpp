#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/Window.h"
#include "support/LogCapture.h"
#include "testpeer/TcpTestServer.h"
#include "tunnel/LegacyWire.h"
#include "tunnel_legacy_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;
using testpeer::TTcpServerMode;
using testpeer::TTcpTestServer;

class TLegacyForwardTest : public TLegacyTunnelTest {
 protected:
  // Gateway whose destinations 127.0.0.5:<any of prmPorts> lead to a local server of prmMode.
  void ConnectTo(TTcpServerMode prmMode, std::vector<int> prmPorts = {3389}) {
    m_Server = std::make_unique<TTcpTestServer>(prmMode);
    uint16_t local = m_Server->Start();
    TGatewayScenario sc;
    for (int p : prmPorts)
      sc.Mapping["127.0.0.5:" + std::to_string(p)] = "127.0.0.1:" + std::to_string(local);
    Connect(sc);
  }
  int Listen(int prmDestPort = 3389, int prmSec = 0, bool prmSSO = false, bool prmSSP = false,
             HWND prmWnd = nullptr, uint32_t prmMsg = 0) {
    int port = 0;
    EXPECT_TRUE(m_Mng->AddConn("127.0.0.5", prmDestPort, 0, port, prmWnd, prmMsg, 1, prmSec, prmSSO,
                               prmSSP));
    return port;
  }
  size_t OpensTo(int prmDestPort) {
    size_t n = 0;
    for (const auto& m : m_Peer->ReceivedMessages(mcOpen)) n += m.DestPort == prmDestPort;
    return n;
  }
  void TearDown() override {
    TLegacyTunnelTest::TearDown();
    m_Server.reset();
  }
  std::unique_ptr<TTcpTestServer> m_Server;
};

// The client's end of a connection message: the loopback address and 135, whatever the target.
void ExpectLoopbackEnd(const testpeer::TPeerMessage& prmMsg) {
  ASSERT_EQ(prmMsg.Header.size(), 13u);
  EXPECT_EQ(TBytes(prmMsg.Header.begin() + 1, prmMsg.Header.begin() + 7),
            TBytes({0x7f, 0, 0, 1, 0x00, 0x87}));
}

TEST_F(TLegacyForwardTest, OpenRequestAndDataPiecesCarryTheLoopbackEnd) {
  ConnectTo(TTcpServerMode::Sink);
  int port = Listen();
  int first = ConnectLocal(port);
  ASSERT_TRUE(m_Peer->WaitForMessage(mcOpen, kWaitMs));
  int s = ConnectLocal(port);
  auto open = m_Peer->WaitForMessage(mcOpen, kWaitMs, 2);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->Raw(), TBytes({0x09, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x87, 0x00, 0x02, 0x00, 0x00,
                                 0x00, 0x08, 0x00, 0x04, 0x0d, 0x3d, 0x7f, 0x00, 0x00, 0x05}));

  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(SendAll(s, data.data(), data.size()));
  auto recorded = [&] {
    size_t n = 0;
    for (const auto& m : m_Peer->ReceivedMessages(mcData)) n += m.Payload.size();
    return n;
  };
  ASSERT_TRUE(Eventually([&] { return recorded() >= 3000; }));
  std::vector<uint8_t> seen;
  for (const auto& m : m_Peer->ReceivedMessages(mcData)) {
    EXPECT_LE(m.Payload.size(), 1024u);
    EXPECT_EQ(m.Fields.Len, m.Payload.size());
    EXPECT_EQ(m.Id(), 2);
    ExpectLoopbackEnd(m);
    seen.insert(seen.end(), m.Payload.begin(), m.Payload.end());
  }
  EXPECT_GE(m_Peer->ReceivedMessages(mcData).size(), 3u);
  EXPECT_EQ(seen, data);
  EXPECT_TRUE(m_Peer->Errors().empty());
  close(s);
  close(first);
}

TEST_F(TLegacyForwardTest, SecurityRdpLimitFollowsSingleSignOnOnly) {
  TLogCapture log;
  ConnectTo(TTcpServerMode::Sink, {1001, 1002, 1003});
  struct TCase {
    int DestPort;
    bool SSO, SSP;
    size_t Allowed;
  };
  std::vector<int> socks;
  size_t ended = 0;
  for (TCase c : {TCase{1001, true, false, 2}, TCase{1002, false, true, 1}}) {
    int port = Listen(c.DestPort, 5, c.SSO, c.SSP);
    for (int i = 0; i < 3; ++i) socks.push_back(ConnectLocal(port));
    ++ended;
    ASSERT_TRUE(Eventually([&] { return log.Count("ListenThd - End") == ended; }));
    ASSERT_TRUE(Eventually([&] { return OpensTo(c.DestPort) >= c.Allowed; }));
    EXPECT_EQ(OpensTo(c.DestPort), c.Allowed) << c.DestPort;
  }
  int port = Listen(1003);
  for (int i = 0; i < 12; ++i) socks.push_back(ConnectLocal(port));
  EXPECT_TRUE(Eventually([&] { return OpensTo(1003) == 12; }));
  for (int s : socks) close(s);
}

TEST_F(TLegacyForwardTest, GatewayCloseClosesTheApplicationAndIsAnswered) {
  ConnectTo(TTcpServerMode::Echo);
  int s = ConnectLocal(Listen());
  auto open = m_Peer->WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  const uint16_t id = open->Id();
  ASSERT_TRUE(m_Peer->SendClose(id));
  char c;
  EXPECT_EQ(recv(s, &c, 1, 0), 0);
  auto closeMsg = m_Peer->WaitForMessage(mcClose, kWaitMs);
  ASSERT_TRUE(closeMsg);
  EXPECT_EQ(closeMsg->Id(), id);
  ExpectLoopbackEnd(*closeMsg);
  EXPECT_EQ(closeMsg->Fields.Len, 0u);
  EXPECT_TRUE(Eventually([&] { return m_Mng->GetConn(id) == nullptr; }));
  close(s);
}

TEST_F(TLegacyForwardTest, ApplicationCloseFreesTheIdentifierWithoutTellingTheGateway) {
  std::vector<std::pair<uint32_t, intptr_t>> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t prmL) {
    seen.emplace_back(prmMsg, prmL);
    return 0;
  });
  ConnectTo(TTcpServerMode::Echo);
  int port = Listen(3389, 0, false, false, &wnd, WM_USER + 40);
  int s = ConnectLocal(port);
  auto open = m_Peer->WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  const int id = open->Id();
  EXPECT_TRUE(Eventually([&] { return m_Mng->GetConnsCount() == 1; }));
  close(s);
  for (int i = 0; i < 400 && seen.empty(); ++i) wnd.WaitMessage(50);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(uint32_t{WM_USER + 40}, intptr_t{id}));
  EXPECT_EQ(m_Mng->GetConn(id), nullptr);
  EXPECT_EQ(m_Mng->GetConnsCount(), 0);
  // Anything the client sends after this would follow a close message; a later request shows
  // none was written in between.
  m_Mng->ResetTimers();
  ASSERT_TRUE(m_Peer->WaitForMessage(mcResetTimers, kWaitMs));
  EXPECT_TRUE(m_Peer->ReceivedMessages(mcClose).empty());
}

TEST_F(TLegacyForwardTest, DestroyingTheManagerMidTransferEndsEveryThreadAndSocket) {
  m_Server = std::make_unique<TTcpTestServer>(TTcpServerMode::Echo);
  uint16_t local = m_Server->Start();
  TGatewayScenario sc;
  sc.Protocol = testpeer::TProtocol::Legacy;
  sc.Mapping["127.0.0.5:3389"] = "127.0.0.1:" + std::to_string(local);
  m_Peer = std::make_unique<testpeer::TGatewayPeer>(sc);
  m_Port = m_Peer->Start();
  const int fdsBefore = OpenFds();
  const int threadsBefore = Threads();

  m_Mng = std::make_unique<CAppMngPelx>("127.0.0.1", m_Port, "c", "a+b", "m");
  m_Mng->InitControlConnection();
  ASSERT_TRUE(m_Mng->IsReady(kWaitMs));
  int port = Listen();
  std::vector<std::thread> clients;
  for (int i = 0; i < 5; ++i) {
    clients.emplace_back([port] {
      int s = ConnectLocal(port);
      std::thread reader([s] {
        char buf[4096];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
      });
      std::vector<uint8_t> chunk(4096, 0x5A);
      while (send(s, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
      }
      reader.join();
      close(s);
    });
  }
  ASSERT_TRUE(
      m_Peer->WaitForCounters([](auto& c) { return c.DataBytesToClient > 100000; }, kWaitMs));
  m_Mng.reset();
  for (auto& t : clients) t.join();
  ASSERT_TRUE(m_Peer->WaitForSessionsEnded(1, kWaitMs));
  ASSERT_TRUE(m_Server->WaitFor([](auto& c) { return c.Closed == c.Accepted; }, kWaitMs));
  EXPECT_TRUE(Eventually([&] { return OpenFds() == fdsBefore && Threads() == threadsBefore; }))
      << OpenFds() << " descriptors (" << fdsBefore << " before), " << Threads() << " threads ("
      << threadsBefore << " before)";
}

}  // namespace
}  // namespace vantrel::test
