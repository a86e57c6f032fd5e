// Forwarded connections through both protocols' tunnels: listeners, open and data messages, the
// security-RDP accept limit, send filters, closes from either side and destruction mid-transfer.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/Window.h"
#include "support/LogCapture.h"
#include "tunnel/Conn.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TTcpServerMode;

TYPED_TEST_SUITE(TTunnelTest, TProtocols, TProtocolNames);

TYPED_TEST(TTunnelTest, ListenerPortsFreeAndTaken) {
  this->StartPeer();
  auto& mng = *this->m_Mng;
  const char* dest = TypeParam::kDestIP;
  int port = 0;
  ASSERT_TRUE(mng.AddConn(dest, 3389, 0, port, nullptr, 0, 1, 0, false, false));
  EXPECT_GT(port, 0);
  int again = 0;
  try {
    mng.AddConn(dest, 3389, port, again, nullptr, 0, 1, 0, false, false);
    FAIL() << "bound twice";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Failed to bind 98");
  }
  // The manager stays usable: its lock was released.
  EXPECT_TRUE(mng.AddConn(dest, 3389, 0, again, nullptr, 0, 1, 0, false, false));
  EXPECT_NE(again, port);
}

TYPED_TEST(TTunnelTest, OpenRequestAndDataInPiecesOfAtMost1024) {
  this->ConnectTo(TTcpServerMode::Sink);
  auto& peer = *this->m_Peer;
  int port = this->Listen();
  int first = ConnectLocal(port);
  ASSERT_TRUE(peer.WaitForMessage(mcOpen, kWaitMs));
  int s = ConnectLocal(port);
  auto open = peer.WaitForMessage(mcOpen, kWaitMs, 2);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->Raw(), TypeParam::OpenOfConnTwo());

  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(SendAll(s, data));
  auto recorded = [&] {
    size_t n = 0;
    for (const auto& m : peer.ReceivedMessages(mcData)) n += m.Payload.size();
    return n;
  };
  ASSERT_TRUE(Eventually([&] { return recorded() >= 3000; }));
  std::vector<uint8_t> seen;
  for (const auto& m : peer.ReceivedMessages(mcData)) {
    EXPECT_LE(m.Payload.size(), 1024u);
    EXPECT_EQ(m.Fields.Len, m.Payload.size());
    EXPECT_EQ(m.Id(), 2);
    TypeParam::ExpectConnEnd(m);
    seen.insert(seen.end(), m.Payload.begin(), m.Payload.end());
  }
  EXPECT_GE(peer.ReceivedMessages(mcData).size(), 3u);
  EXPECT_EQ(seen, data);
  EXPECT_TRUE(peer.Errors().empty());
  close(s);
  close(first);
}

TYPED_TEST(TTunnelTest, SecurityRdpLimitsAccepts) {
  TLogCapture log;
  this->ConnectTo(TTcpServerMode::Sink, {1001, 1002, 1003});
  std::vector<int> socks;
  size_t ended = 0;
  int destPort = 1001;
  for (auto c : TypeParam::AcceptCases()) {
    int port = this->Listen(destPort, 5, c.SSO, c.SSP);
    for (int i = 0; i < 3; ++i) socks.push_back(ConnectLocal(port));
    ++ended;
    ASSERT_TRUE(Eventually([&] { return log.Count("ListenThd - End") == ended; }));
    ASSERT_TRUE(Eventually([&] { return this->OpensTo(destPort) >= c.Allowed; }));
    EXPECT_EQ(this->OpensTo(destPort), c.Allowed) << c.SSO << c.SSP;
    ++destPort;
  }
  // Without a security-RDP identifier there is no limit.
  int port = this->Listen(1003);
  for (int i = 0; i < 12; ++i) socks.push_back(ConnectLocal(port));
  EXPECT_TRUE(Eventually([&] { return this->OpensTo(1003) == 12; }));
  for (int s : socks) close(s);
}

TYPED_TEST(TTunnelTest, SendCallbackRemovedAfterItAnswersTrue) {
  this->ConnectTo(TTcpServerMode::Sink);
  auto& peer = *this->m_Peer;
  std::atomic<int> calls{0};
  int port = 0;
  ASSERT_TRUE(this->m_Mng->AddConn(
      TypeParam::kDestIP, 3389, 0, port, nullptr, 0, 1,
      [&](uint8_t* prmBuf, uint32_t) {
        prmBuf[0] = 'X';  // may change the bytes in place
        return ++calls == 2;
      },
      0, false, false));
  int s = ConnectLocal(port);
  for (uint64_t total : {5u, 10u, 15u}) {
    ASSERT_TRUE(SendAll(s, {'a', 'b', 'c', 'd', 'e'}));
    ASSERT_TRUE(Eventually([&] { return peer.ReceivedMessages(mcData).size() * 5 >= total; }));
  }
  EXPECT_EQ(calls, 2);
  auto data = peer.ReceivedMessages(mcData);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0].Payload[0], 'X');
  EXPECT_EQ(data[2].Payload[0], 'a');
  close(s);
}

TYPED_TEST(TTunnelTest, GatewayCloseClosesTheApplicationIsAnsweredAndFreesTheIdentifier) {
  TLogCapture log;
  this->ConnectTo(TTcpServerMode::Echo);
  auto& peer = *this->m_Peer;
  int s = ConnectLocal(this->Listen());
  auto open = peer.WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  const uint16_t id = open->Id();
  ASSERT_TRUE(peer.SendClose(id));
  char c;
  EXPECT_EQ(recv(s, &c, 1, 0), 0);  // the application socket was closed
  auto closeMsg = peer.WaitForMessage(mcClose, kWaitMs);
  ASSERT_TRUE(closeMsg);
  EXPECT_EQ(closeMsg->Id(), id);
  TypeParam::ExpectConnEnd(*closeMsg);
  EXPECT_EQ(closeMsg->Fields.Len, 0u);
  EXPECT_TRUE(log.WaitFor("AppMng.CloseConn - ID " + std::to_string(id) + " freed", kWaitMs));
  EXPECT_EQ(this->m_Mng->Mux().GetConn(id), nullptr);
  EXPECT_EQ(this->m_Mng->Mux().GetConnsCount(), 0);
  close(s);
}

TYPED_TEST(TTunnelTest, ApplicationCloseFreesTheIdentifierAndNotifiesTheWindow) {
  std::vector<std::pair<uint32_t, intptr_t>> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t prmL) {
    seen.emplace_back(prmMsg, prmL);
    return 0;
  });
  this->ConnectTo(TTcpServerMode::Echo);
  auto& peer = *this->m_Peer;
  auto& mng = *this->m_Mng;
  int port = this->Listen(3389, 0, false, false, &wnd, WM_USER + 40);
  int s = ConnectLocal(port);
  auto open = peer.WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  const int id = open->Id();
  EXPECT_TRUE(Eventually([&] { return mng.Mux().GetConnsCount() == 1; }));
  close(s);
  for (int i = 0; i < 400 && seen.empty(); ++i) wnd.WaitMessage(50);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(uint32_t{WM_USER + 40}, intptr_t{id}));
  EXPECT_EQ(mng.Mux().GetConn(id), nullptr);
  EXPECT_EQ(mng.Mux().GetConnsCount(), 0);
  if (TypeParam::kSignalsApplicationClose) {
    auto closeMsg = peer.WaitForMessage(mcClose, kWaitMs);
    ASSERT_TRUE(closeMsg);
    EXPECT_EQ(closeMsg->Id(), id);
  } else {
    // Anything the client sends after this would follow a close message; a later request shows
    // none was written in between.
    mng.ResetTimers();
    ASSERT_TRUE(peer.WaitForMessage(mcResetTimers, kWaitMs));
    EXPECT_TRUE(peer.ReceivedMessages(mcClose).empty());
  }
  // Freed, but handed out again only when the round-robin search comes round to it.
  int s2 = ConnectLocal(port);
  auto open2 = peer.WaitForMessage(mcOpen, kWaitMs, 2);
  ASSERT_TRUE(open2);
  EXPECT_EQ(open2->Id(), id + 1);
  close(s2);
  this->m_Mng.reset();  // before the window it notifies
}

TYPED_TEST(TTunnelTest, CloseClientConnsEndsConnectionsButKeepsListeners) {
  this->ConnectTo(TTcpServerMode::Echo);
  auto& mng = *this->m_Mng;
  int port = this->Listen();
  std::vector<int> socks;
  for (int i = 0; i < 3; ++i) socks.push_back(ConnectLocal(port));
  ASSERT_TRUE(Eventually([&] { return mng.Mux().GetConnsCount() == 3; }));
  mng.CloseClientConns();
  for (int s : socks) {
    char c;
    EXPECT_EQ(recv(s, &c, 1, 0), 0);  // every application socket was closed
    close(s);
  }
  EXPECT_TRUE(Eventually([&] { return this->m_Peer->ReceivedMessages(mcClose).size() == 3; }));
  EXPECT_EQ(mng.Mux().GetConnsCount(), 0);
  for (int id = 1; id < kMaxConns; ++id) EXPECT_EQ(mng.Mux().GetConn(id), nullptr);
  // The listener still accepts and relays.
  int s = ConnectLocal(port);
  ASSERT_TRUE(SendAll(s, {'p', 'i', 'n', 'g'}));
  char back[4];
  EXPECT_EQ(recv(s, back, sizeof back, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(back, 4), "ping");
  close(s);
}

TYPED_TEST(TTunnelTest, DestroyingTheManagerMidTransferEndsEveryThreadAndSocket) {
  auto sc = this->ScenarioTo(TTcpServerMode::Echo);
  sc.Protocol = TypeParam::kProtocol;
  this->m_Peer = std::make_unique<testpeer::TGatewayPeer>(sc);
  this->m_Port = this->m_Peer->Start();
  auto& peer = *this->m_Peer;
  const std::pair<int, int> before = SettledThreadsAndFds();
  const int threadsBefore = before.first, fdsBefore = before.second;
  const std::string fdListBefore = FdList();

  this->m_Mng = TypeParam::Make("127.0.0.1", this->m_Port);
  this->m_Mng->InitControlConnection();
  ASSERT_TRUE(this->m_Mng->IsReady(kWaitMs));
  int port = this->Listen();
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
  ASSERT_TRUE(peer.WaitForCounters([](auto& c) { return c.DataBytesToClient > 100000; }, kWaitMs))
      << peer.ReceivedMessages(mcOpen).size() << " opens, " << peer.Counters().OpensServed
      << " served, " << peer.Counters().DataBytesFromClient << " bytes from client, "
      << peer.ReceivedMessages().size() << " messages; "
      << (peer.Errors().empty() ? "" : peer.Errors()[0]) << " refused "
      << peer.Counters().OpensRefused;
  this->m_Mng.reset();
  for (auto& t : clients) t.join();
  ASSERT_TRUE(peer.WaitForSessionsEnded(1, kWaitMs));
  ASSERT_TRUE(this->m_Server->WaitFor([](auto& c) { return c.Closed == c.Accepted; }, kWaitMs));
  // The peer's own session thread may still be on its way out.
  EXPECT_TRUE(Eventually([&] { return OpenFds() == fdsBefore && Threads() == threadsBefore; }))
      << OpenFds() << " descriptors (" << fdsBefore << " before), " << Threads() << " threads ("
      << threadsBefore << " before)\n"
      << fdListBefore << "\n"
      << FdList();
}

}  // namespace
}  // namespace vantrel::test
