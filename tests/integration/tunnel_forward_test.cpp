#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/Window.h"
#include "support/LogCapture.h"
#include "testpeer/TcpTestServer.h"
#include "tunnel/Conn.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;
using testpeer::TTcpServerMode;
using testpeer::TTcpTestServer;

void SendAllTo(int prmSock, const std::vector<uint8_t>& prmData) {
  size_t off = 0;
  while (off < prmData.size()) {
    ssize_t n = send(prmSock, prmData.data() + off, prmData.size() - off, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    off += static_cast<size_t>(n);
  }
}

class TForwardTest : public TTunnelTest {
 protected:
  // Gateway whose destinations 10.0.0.5:<any of prmPorts> lead to a local server of prmMode.
  void ConnectTo(TTcpServerMode prmMode, std::vector<int> prmPorts = {3389}) {
    m_Server = std::make_unique<TTcpTestServer>(prmMode);
    uint16_t local = m_Server->Start();
    TGatewayScenario sc;
    for (int p : prmPorts)
      sc.Mapping["10.0.0.5:" + std::to_string(p)] = "127.0.0.1:" + std::to_string(local);
    Connect(sc);
  }
  int Listen(int prmDestPort = 3389, int prmSec = 0, bool prmSSO = false, bool prmSSP = false,
             HWND prmWnd = nullptr, uint32_t prmMsg = 0) {
    int port = 0;
    EXPECT_TRUE(m_Mng->AddConn("10.0.0.5", prmDestPort, 0, port, prmWnd, prmMsg, 1, prmSec, prmSSO,
                               prmSSP));
    return port;
  }
  size_t OpensTo(int prmDestPort) {
    size_t n = 0;
    for (const auto& m : m_Peer->ReceivedMessages(mcOpen)) n += m.DestPort == prmDestPort;
    return n;
  }
  void TearDown() override {
    TTunnelTest::TearDown();
    m_Server.reset();
  }
  std::unique_ptr<TTcpTestServer> m_Server;
};

TEST_F(TForwardTest, ListenerPortsFreeAndTaken) {
  StartPeer();
  int port = 0;
  ASSERT_TRUE(m_Mng->AddConn("10.0.0.5", 3389, 0, port, nullptr, 0, 1, 0, false, false));
  EXPECT_GT(port, 0);
  int again = 0;
  try {
    m_Mng->AddConn("10.0.0.5", 3389, port, again, nullptr, 0, 1, 0, false, false);
    FAIL() << "bound twice";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Failed to bind 98");
  }
  // The manager stays usable: its lock was released.
  EXPECT_TRUE(m_Mng->AddConn("10.0.0.5", 3389, 0, again, nullptr, 0, 1, 0, false, false));
  EXPECT_NE(again, port);
}

TEST_F(TForwardTest, ApplicationDataGoesOutInPiecesOfAtMost1024) {
  ConnectTo(TTcpServerMode::Sink);
  int s = ConnectLocal(Listen());
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  SendAllTo(s, data);
  auto recorded = [&] {
    size_t n = 0;
    for (const auto& m : m_Peer->ReceivedMessages(mcData)) n += m.Payload.size();
    return n;
  };
  ASSERT_TRUE(Eventually([&] { return recorded() >= 3000; }));
  std::vector<uint8_t> seen;
  size_t pieces = 0;
  for (const auto& m : m_Peer->ReceivedMessages(mcData)) {
    EXPECT_LE(m.Payload.size(), 1024u);
    EXPECT_EQ(m.Fields.Len, m.Payload.size());
    EXPECT_EQ(FormatDottedQuad(m.DestAddr), "10.0.0.5");
    seen.insert(seen.end(), m.Payload.begin(), m.Payload.end());
    ++pieces;
  }
  EXPECT_GE(pieces, 3u);
  EXPECT_EQ(seen, data);
  close(s);
}

TEST_F(TForwardTest, SecurityRdpLimitsAccepts) {
  TLogCapture log;
  ConnectTo(TTcpServerMode::Sink, {1001, 1002, 1003});
  struct TCase {
    int DestPort, Sec;
    bool SSO, SSP;
    size_t Allowed;
  };
  std::vector<int> socks;
  size_t ended = 0;
  for (TCase c : {TCase{1001, 5, true, true, 2}, TCase{1002, 5, true, false, 1}}) {
    int port = Listen(c.DestPort, c.Sec, c.SSO, c.SSP);
    for (int i = 0; i < 3; ++i) socks.push_back(ConnectLocal(port));
    ++ended;
    ASSERT_TRUE(Eventually([&] { return log.Count("ListenThd - End") == ended; }));
    ASSERT_TRUE(Eventually([&] { return OpensTo(c.DestPort) >= c.Allowed; }));
    EXPECT_EQ(OpensTo(c.DestPort), c.Allowed);
  }
  int port = Listen(1003);
  for (int i = 0; i < 12; ++i) socks.push_back(ConnectLocal(port));
  EXPECT_TRUE(Eventually([&] { return OpensTo(1003) == 12; }));
  for (int s : socks) close(s);
}

TEST_F(TForwardTest, SendCallbackRemovedAfterItAnswersTrue) {
  ConnectTo(TTcpServerMode::Sink);
  std::atomic<int> calls{0};
  int port = 0;
  ASSERT_TRUE(m_Mng->AddConn(
      "10.0.0.5", 3389, 0, port, nullptr, 0, 1,
      [&](uint8_t* prmBuf, uint32_t) {
        prmBuf[0] = 'X';  // may change the bytes in place
        return ++calls == 2;
      },
      0, false, false));
  int s = ConnectLocal(port);
  for (uint64_t total : {5u, 10u, 15u}) {
    SendAllTo(s, {'a', 'b', 'c', 'd', 'e'});
    ASSERT_TRUE(Eventually([&] { return m_Peer->ReceivedMessages(mcData).size() * 5 >= total; }));
  }
  EXPECT_EQ(calls, 2);
  auto data = m_Peer->ReceivedMessages(mcData);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0].Payload[0], 'X');
  EXPECT_EQ(data[2].Payload[0], 'a');
  close(s);
}

TEST_F(TForwardTest, GatewayCloseEndsTheRelayAndFreesItsIdentifier) {
  TLogCapture log;
  ConnectTo(TTcpServerMode::Echo);
  int s = ConnectLocal(Listen());
  auto open = m_Peer->WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  const int id = open->Id();
  ASSERT_TRUE(m_Peer->SendClose(static_cast<uint16_t>(id)));
  char c;
  EXPECT_EQ(recv(s, &c, 1, 0), 0);  // the application socket was closed
  auto closeMsg = m_Peer->WaitForMessage(mcClose, kWaitMs);
  ASSERT_TRUE(closeMsg);
  EXPECT_EQ(closeMsg->Id(), id);
  EXPECT_TRUE(log.WaitFor("AppMng.CloseConn - ID " + std::to_string(id) + " freed", kWaitMs));
  EXPECT_EQ(m_Mng->GetConn(id), nullptr);
  EXPECT_EQ(m_Mng->GetConnsCount(), 0);
  close(s);
}

TEST_F(TForwardTest, ApplicationCloseFreesIdentifierAndNotifiesTheWindow) {
  TLogCapture log;
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
  auto closeMsg = m_Peer->WaitForMessage(mcClose, kWaitMs);
  ASSERT_TRUE(closeMsg);
  EXPECT_EQ(closeMsg->Id(), id);
  for (int i = 0; i < 400 && seen.empty(); ++i) wnd.WaitMessage(50);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(uint32_t{WM_USER + 40}, intptr_t{id}));
  EXPECT_EQ(m_Mng->GetConn(id), nullptr);
  // Freed, but handed out again only when the round-robin search comes round to it.
  int s2 = ConnectLocal(port);
  auto open2 = m_Peer->WaitForMessage(mcOpen, kWaitMs, 2);
  ASSERT_TRUE(open2);
  EXPECT_EQ(open2->Id(), id + 1);
  close(s2);
  m_Mng.reset();  // before the window it notifies
}

TEST_F(TForwardTest, CloseClientConnsEndsConnectionsButKeepsListeners) {
  ConnectTo(TTcpServerMode::Echo);
  int port = Listen();
  std::vector<int> socks;
  for (int i = 0; i < 3; ++i) socks.push_back(ConnectLocal(port));
  ASSERT_TRUE(Eventually([&] { return m_Mng->GetConnsCount() == 3; }));
  m_Mng->CloseClientConns();
  for (int s : socks) {
    char c;
    EXPECT_EQ(recv(s, &c, 1, 0), 0);  // every application socket was closed
    close(s);
  }
  EXPECT_TRUE(Eventually([&] { return m_Peer->ReceivedMessages(mcClose).size() == 3; }));
  EXPECT_EQ(m_Mng->GetConnsCount(), 0);
  for (int id = 1; id < kMaxConns; ++id) EXPECT_EQ(m_Mng->GetConn(id), nullptr);
  // The listener still accepts and relays.
  int s = ConnectLocal(port);
  SendAllTo(s, {'p', 'i', 'n', 'g'});
  char back[4];
  EXPECT_EQ(recv(s, back, sizeof back, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(back, 4), "ping");
  close(s);
}

TEST_F(TForwardTest, DestroyingTheManagerMidTransferEndsEveryThreadAndSocket) {
  m_Server = std::make_unique<TTcpTestServer>(TTcpServerMode::Echo);
  uint16_t local = m_Server->Start();
  TGatewayScenario sc;
  sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(local);
  m_Peer = std::make_unique<testpeer::TGatewayPeer>(sc);
  m_Port = m_Peer->Start();
  const int fdsBefore = OpenFds();
  const int threadsBefore = Threads();
  const std::string fdListBefore = FdList();

  m_Mng = std::make_unique<CAppMngMorv>("127.0.0.1", m_Port, "c", "s", "m", "d");
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
      m_Peer->WaitForCounters([](auto& c) { return c.DataBytesToClient > 100000; }, kWaitMs))
      << m_Peer->ReceivedMessages(mcOpen).size() << " opens, " << m_Peer->Counters().OpensServed
      << " served, " << m_Peer->Counters().DataBytesFromClient << " bytes from client, "
      << m_Peer->ReceivedMessages().size() << " messages; "
      << (m_Peer->Errors().empty() ? "" : m_Peer->Errors()[0]) << " refused "
      << m_Peer->Counters().OpensRefused;
  m_Mng.reset();
  for (auto& t : clients) t.join();
  ASSERT_TRUE(m_Peer->WaitForSessionsEnded(1, kWaitMs));
  ASSERT_TRUE(m_Server->WaitFor([](auto& c) { return c.Closed == c.Accepted; }, kWaitMs));
  // The peer's own session thread may still be on its way out.
  EXPECT_TRUE(Eventually([&] { return OpenFds() == fdsBefore && Threads() == threadsBefore; }))
      << OpenFds() << " descriptors (" << fdsBefore << " before), " << Threads() << " threads ("
      << threadsBefore << " before)\n"
      << fdListBefore << "\n"
      << FdList();
}

}  // namespace
}  // namespace vantrel::test
