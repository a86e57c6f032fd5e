// The gateway peer in the first protocol, driven byte for byte by a bare TLS client.
#include <dirent.h>
#include <gtest/gtest.h>

#include "RawTlsClient.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel::testpeer::test {

namespace {

const char kRequest[] =
    "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: gw.example\r\nCookie: "
    "sess=42\r\nappid: Vantrel\r\nclientid: dev-7\r\n\r\n";

// A peer plus a client that has opened the tunnel: request sent, 200 read, init sent.
class FirstProtocol : public ::testing::Test {
 protected:
  void Open(TGatewayScenario prmScenario = {}) {
    peer = std::make_unique<TGatewayPeer>(std::move(prmScenario));
    uint16_t port = peer->Start();
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(client.Send(std::string(kRequest)));
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    auto got = client.Read(reply.size());
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(got->begin(), got->end()), reply);
    ASSERT_TRUE(client.Send(ClientHeader(15)));
  }

  // The next gateway message: 16-byte header and the payload its Len announces (none for 23).
  std::pair<TBytes, TBytes> ReadMessage() {
    auto h = client.Read(16);
    if (!h) return {};
    uint32_t len = (*h)[0] == 23 ? 0 : BE32(h->data() + 12);
    auto p = len ? client.Read(len) : std::optional<TBytes>(TBytes{});
    return {*h, p ? *p : TBytes{}};
  }

  std::unique_ptr<TGatewayPeer> peer;
  TRawTlsClient client;
};

TEST_F(FirstProtocol, OpensTunnelAndKeepsTheRequest) {
  TGatewayScenario sc;
  sc.TunnelUpCode = 83;
  sc.ExpectedCookie = "sess=42";
  Open(sc);
  auto [h, p] = ReadMessage();
  EXPECT_EQ(h, Hex("53000000 00000000 00000000 00000000"));
  EXPECT_EQ(peer->HttpRequest(), kRequest);
  auto init = peer->WaitForMessage(15, kWait);
  ASSERT_TRUE(init);
  EXPECT_EQ(init->Raw(), ClientHeader(15));
  EXPECT_TRUE(peer->Errors().empty());
}

TEST(FirstProtocolRequest, RefusesWrongCookieAndMalformedRequests) {
  TGatewayScenario sc;
  sc.ExpectedCookie = "right";
  TGatewayPeer peer(sc);
  uint16_t port = peer.Start();
  {
    TRawTlsClient c;
    ASSERT_TRUE(c.Connect(port));
    std::string req = kRequest;
    ASSERT_TRUE(c.Send(req));
    TBytes all = c.ReadToEnd();
    EXPECT_EQ(std::string(all.begin(), all.end()), sc.ForbiddenReply);
  }
  for (std::string bad : {std::string("GET /vpntunnel HTTP/1.0\r\n\r\n"),
                          std::string(kRequest).insert(sizeof kRequest - 5, "\r\nX: y")}) {
    TRawTlsClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_TRUE(c.Send(bad));
    TBytes all = c.ReadToEnd();
    EXPECT_EQ(std::string(all.begin(), all.end()), "HTTP/1.1 400 Bad Request\r\n\r\n");
  }
  EXPECT_EQ(peer.Errors().size(), 3u);
  EXPECT_EQ(peer.HttpRequests().size(), 3u);
}

TEST_F(FirstProtocol, RelaysThroughMappingToEcho) {
  TTcpTestServer echo(TTcpServerMode::Echo);
  uint16_t echoPort = echo.Start();
  TGatewayScenario sc;
  sc.Mapping["10.1.2.3:3389"] = "127.0.0.1:" + std::to_string(echoPort);
  Open(sc);
  ReadMessage();  // tunnel up
  ASSERT_TRUE(client.Send(ClientHeader(9, "10.1.2.3", 3389, 7)));
  auto [ready, none] = ReadMessage();
  EXPECT_EQ(ready[0], 5);
  EXPECT_EQ(BE16(ready.data() + 10), 7);

  TBytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  for (size_t off = 0; off < data.size(); off += 1024) {
    size_t n = std::min<size_t>(1024, data.size() - off);
    ASSERT_TRUE(client.Send(Concat({ClientHeader(6, "10.1.2.3", 3389, 7, static_cast<uint32_t>(n)),
                                    TBytes(data.begin() + off, data.begin() + off + n)})));
  }
  TBytes back;
  while (back.size() < data.size()) {
    auto [h, p] = ReadMessage();
    ASSERT_EQ(h.size(), 16u);
    ASSERT_EQ(h[0], 6);
    EXPECT_EQ(BE16(h.data() + 10), 7);
    EXPECT_LE(p.size(), 1024u);
    back.insert(back.end(), p.begin(), p.end());
  }
  EXPECT_EQ(back, data);
  EXPECT_TRUE(peer->Errors().empty());
  // Data that names another destination than its open request is the client's fault.
  ASSERT_TRUE(client.Send(Concat({ClientHeader(6, "10.1.2.4", 3389, 7, 1), TBytes{'z'}})));
  EXPECT_EQ(ReadMessage().second, TBytes{'z'});
  ASSERT_EQ(peer->Errors().size(), 1u);
  EXPECT_NE(peer->Errors()[0].find("names 10.1.2.4:3389, opened as 10.1.2.3:3389"),
            std::string::npos);

  // A wait condition may itself look at the records.
  EXPECT_TRUE(peer->WaitForCounters(
      [&](const TPeerCounters&) { return peer->ReceivedMessages(9).size() == 1; }, kWait));
  auto open = peer->WaitForMessage(9, kWait);
  ASSERT_TRUE(open);
  EXPECT_EQ(FormatDottedQuad(open->DestAddr), "10.1.2.3");
  EXPECT_EQ(open->DestPort, 3389);
  ASSERT_TRUE(client.Send(ClientHeader(7, "10.1.2.3", 3389, 7)));
  EXPECT_TRUE(echo.WaitFor([](const TTcpServerCounters& c) { return c.Closed == 1; }, kWait));
  EXPECT_TRUE(
      peer->WaitForCounters([](const TPeerCounters& c) { return c.DestinationsOpen == 0; }, kWait));
  EXPECT_EQ(peer->Errors().size(), 1u);
}

TEST_F(FirstProtocol, DestinationCloseReachesClientAndRefusalsAnswerWithClose) {
  TTcpTestServer source(TTcpServerMode::Source, 5000);
  uint16_t sourcePort = source.Start();
  Open();
  ReadMessage();
  // Unmapped loopback destination: used as it is.
  ASSERT_TRUE(client.Send(ClientHeader(9, "127.0.0.1", sourcePort, 2)));
  EXPECT_EQ(ReadMessage().first[0], 5);
  size_t got = 0;
  std::pair<TBytes, TBytes> m;
  while ((m = ReadMessage()).first.size() == 16 && m.first[0] == 6) {
    for (size_t i = 0; i < m.second.size(); ++i)
      ASSERT_EQ(m.second[i], TTcpTestServer::PatternByte(got + i));
    got += m.second.size();
  }
  EXPECT_EQ(got, 5000u);
  ASSERT_EQ(m.first.size(), 16u);
  EXPECT_EQ(m.first, Hex("07000000 00000000 0000 0002 00000000"));

  // Not loopback and not mapped: refused with a close, never connected.
  ASSERT_TRUE(client.Send(ClientHeader(9, "192.0.2.1", 80, 3)));
  EXPECT_EQ(ReadMessage().first, Hex("07000000 00000000 0000 0003 00000000"));
  EXPECT_EQ(peer->Counters().OpensRefused, 1);
}

TEST_F(FirstProtocol, MultiplexesManyConnectionsWithoutMixingTheirData) {
  constexpr uint16_t kConns = 50;
  constexpr int kRounds = 40;
  TTcpTestServer echo(TTcpServerMode::Echo);
  TGatewayScenario sc;
  sc.Mapping["10.0.0.9"] = "127.0.0.1";
  sc.RecordDataLimit = 0;
  Open(sc);
  ReadMessage();
  const uint16_t port = echo.Start();
  TBytes opens;
  for (uint16_t id = 1; id <= kConns; ++id)
    opens = Concat({opens, ClientHeader(9, "10.0.0.9", port, id)});
  ASSERT_TRUE(client.Send(opens));
  for (int i = 0; i < kConns; ++i) ASSERT_EQ(ReadMessage().first[0], 5);

  auto byteOf = [](uint16_t id, size_t index) { return static_cast<uint8_t>(id * 31 + index); };
  std::vector<TBytes> back(kConns + 1);
  for (int round = 0; round < kRounds; ++round) {
    TBytes batch;
    for (uint16_t id = 1; id <= kConns; ++id) {
      TBytes piece(1024);
      for (size_t k = 0; k < piece.size(); ++k) piece[k] = byteOf(id, round * 1024 + k);
      batch = Concat({batch, ClientHeader(6, "10.0.0.9", port, id, 1024), piece});
    }
    ASSERT_TRUE(client.Send(batch));
    size_t got = 0;
    while (got < kConns * 1024u) {
      auto [h, p] = ReadMessage();
      ASSERT_EQ(h.size(), 16u);
      ASSERT_EQ(h[0], 6);
      uint16_t id = BE16(h.data() + 10);
      ASSERT_TRUE(id >= 1 && id <= kConns);
      back[id].insert(back[id].end(), p.begin(), p.end());
      got += p.size();
    }
  }
  for (uint16_t id = 1; id <= kConns; ++id) {
    ASSERT_EQ(back[id].size(), kRounds * 1024u);
    for (size_t k = 0; k < back[id].size(); ++k) ASSERT_EQ(back[id][k], byteOf(id, k)) << id;
  }
  EXPECT_EQ(peer->Counters().DataBytesFromClient, uint64_t{kConns} * kRounds * 1024);
  EXPECT_TRUE(peer->ReceivedMessages(6).empty());  // beyond the record limit: counted only
  EXPECT_TRUE(peer->Errors().empty());
  // Losing the tunnel ends every destination connection with it.
  ASSERT_TRUE(peer->CloseControlConnection());
  EXPECT_TRUE(echo.WaitFor([&](const TTcpServerCounters& c) { return c.Closed == kConns; }, kWait));
  EXPECT_TRUE(
      peer->WaitForCounters([](const TPeerCounters& c) { return c.DestinationsOpen == 0; }, kWait));
}

TEST_F(FirstProtocol, AnswersRequestsWithTheRightByteOrders) {
  TGatewayScenario sc;
  sc.UserName = "alice";
  sc.Password = "s3cret";
  sc.Hosts["desk1.example"] = "127.0.0.5";
  sc.IdleTime = 300;
  sc.LifeTime = 0x01020304;
  Open(sc);
  ReadMessage();
  std::string host = "DESK1.example";
  ASSERT_TRUE(
      client.Send(Concat({ClientHeader(18), ClientHeader(19),
                          ClientHeader(20, "0.0.0.0", 0, 0, static_cast<uint32_t>(host.size())),
                          TBytes(host.begin(), host.end()), ClientHeader(20, "0.0.0.0", 0, 0, 1),
                          TBytes{'x'}, ClientHeader(23), ClientHeader(18)})));
  auto [u, un] = ReadMessage();
  EXPECT_EQ(u, Hex("12000000 00000000 0000 0000 00000005"));
  EXPECT_EQ(std::string(un.begin(), un.end()), "alice");
  auto [p, pw] = ReadMessage();
  EXPECT_EQ(p[0], 19);
  EXPECT_EQ(std::string(pw.begin(), pw.end()), "s3cret");
  EXPECT_EQ(ReadMessage().first, Hex("14000000 7f000005 0000 0000 00000000"));
  EXPECT_EQ(ReadMessage().first, Hex("14000000 00000000 0000 0000 00000000"));
  // Timers: idle big-endian in ListenIP, lifetime in Len, and no payload behind them.
  EXPECT_EQ(ReadMessage().first, Hex("17000000 0000012c 0000 0000 01020304"));
  EXPECT_EQ(ReadMessage().first[0], 18);
}

TEST_F(FirstProtocol, RecordsLogKeepaliveAndProbeAnswers) {
  TGatewayScenario sc;
  sc.ProbeIntervalMs = 20;
  Open(sc);
  ReadMessage();
  TBytes log = Hex("06 03 616263 0000000000000000 00 0000000000000000000000000000 02 6869");
  ASSERT_EQ(log.size(), 31u);
  ASSERT_TRUE(client.Send(Concat({ClientHeader(22, "0.0.0.0", 0, 0, 31), log, ClientHeader(13)})));
  EXPECT_EQ(ReadMessage().first, Hex("51000000 00000000 0000 0000 00000000"));
  ASSERT_TRUE(client.Send(ClientHeader(82)));
  ASSERT_TRUE(
      peer->WaitForCounters([](const TPeerCounters& c) { return c.ProbeAnswers == 1; }, kWait));
  ASSERT_TRUE(peer->WaitForLogRecords(1, kWait));
  TLogRecord r = peer->LogRecords()[0];
  EXPECT_EQ(r.Level, 6);
  EXPECT_EQ(r.Protocol, "abc");
  EXPECT_EQ(r.Dest, 0u);
  EXPECT_EQ(r.DestName, "");
  EXPECT_EQ(r.Message, "hi");
  EXPECT_EQ(peer->KeepaliveCount(), 1);
  auto raw = peer->WaitForMessage(22, kWait);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->Payload, log);
}

TEST_F(FirstProtocol, MisbehavesOnRequest) {
  TGatewayScenario sc;
  sc.SplitHeaderAt = 5;
  Open(sc);
  // Each TLS record comes out of one SSL_read, so the split is visible here.
  auto first = client.ReadRecord();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, Hex("01000000 00"));
  EXPECT_EQ(client.ReadRecord()->size(), 11u);
  ASSERT_TRUE(peer->SendRaw(Concat({Hex("63000000 00000000 0000 0000 00009c40")})));
  EXPECT_EQ(client.ReadRecord()->size(), 16u);
  ASSERT_TRUE(peer->SendData(600, TBytes{1, 2, 3}));
  EXPECT_EQ(client.ReadRecord()->size(), 5u);  // split applies to messages the test asks for
  EXPECT_EQ(*client.ReadRecord(), Hex("000000 0000 0258 00000003 010203"));
  ASSERT_TRUE(peer->CloseControlConnection());
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(peer->WaitForSessionsEnded(1, kWait));
  EXPECT_FALSE(peer->SendProbe());  // no open session left
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(GatewayPeerLifecycle, EndedSessionsKeepNoDescriptors) {
  TTcpTestServer echo(TTcpServerMode::Echo);
  TGatewayScenario sc;
  sc.Mapping["10.0.0.1"] = "127.0.0.1";
  TGatewayPeer peer(sc);
  uint16_t port = peer.Start();
  uint16_t echoPort = echo.Start();
  const int before = OpenDescriptors();
  {
    TRawTlsClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_TRUE(c.Send(std::string(kRequest)));
    ASSERT_TRUE(c.Read(38));  // the reply
    ASSERT_TRUE(c.Send(Concat({ClientHeader(15), ClientHeader(9, "10.0.0.1", echoPort, 1)})));
    ASSERT_TRUE(c.Read(32));  // tunnel-up and connection ready
  }
  ASSERT_TRUE(peer.WaitForSessionsEnded(1, kWait));
  // The echo server in this process closes its side when it sees the peer's close.
  ASSERT_TRUE(echo.WaitFor([](const TTcpServerCounters& c) { return c.Closed == 1; }, kWait));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(GatewayPeerLifecycle, StopEndsStalledSessionsAndEnforcesClientCertificates) {
  TGatewayScenario sc;
  sc.RequireClientCert = true;
  TGatewayPeer peer(sc);
  uint16_t port = peer.Start();
  TRawTlsClient stalled;
  ASSERT_TRUE(stalled.ConnectTcpOnly(port));
  TRawTlsClient noCert;
  EXPECT_FALSE(noCert.Connect(port) && noCert.Send(std::string(kRequest)) && noCert.Read(1));
  ASSERT_TRUE(
      peer.WaitForCounters([](const TPeerCounters& c) { return c.SessionsAccepted == 2; }, kWait));
  peer.Stop();  // must return although one client never started its handshake
  EXPECT_EQ(peer.Counters().SessionsEnded, 2);
  EXPECT_TRUE(peer.HttpRequests().empty());
}

}  // namespace

}  // namespace vantrel::testpeer::test
