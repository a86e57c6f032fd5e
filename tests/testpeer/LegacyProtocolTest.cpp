// The gateway peer in the legacy-header protocol, driven byte for byte by a bare TLS client.
#include <gtest/gtest.h>

#include "RawTlsClient.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel::testpeer::test {

namespace {

const char kRequest[] =
    "GET /prx/000/http/localhost/clientappcontrol HTTP/1.0\r\nConnection: Keep-Alive\r\nCookie: "
    "c=1\r\n\r\n";
const char kReply[] = "HTTP/1.1 200 Connection Established\r\n\r\n";

class LegacyProtocol : public ::testing::Test {
 protected:
  void Open(TGatewayScenario prmScenario) {
    prmScenario.Protocol = TProtocol::Legacy;
    peer = std::make_unique<TGatewayPeer>(std::move(prmScenario));
    ASSERT_TRUE(client.Connect(peer->Start(), TLS1_VERSION));
    ASSERT_TRUE(client.Send(std::string(kRequest)));
    // The reply is its own record: the legacy client compares everything one read returns.
    auto reply = client.ReadRecord();
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::string(reply->begin(), reply->end()), kReply);
    ASSERT_TRUE(client.Send(Concat({LegacyHeader(15, "0.0.0.0", 0, 0, 3), TBytes{'X', 'Y', 'Z'}})));
    auto up = client.Read(13);
    ASSERT_TRUE(up);
    EXPECT_EQ(*up, Hex("01 00000000 0000 0000 00000000"));
    ASSERT_TRUE(client.Send(Concat({LegacyHeader(16, "0.0.0.0", 0, 0, 2), TBytes{'m', '1'}})));
  }

  std::unique_ptr<TGatewayPeer> peer;
  TRawTlsClient client;
};

TEST_F(LegacyProtocol, OpensDataAndTimersInLegacyEncoding) {
  TTcpTestServer echo(TTcpServerMode::Echo);
  TGatewayScenario sc;
  sc.Mapping["127.0.0.5:3389"] = "127.0.0.1:" + std::to_string(echo.Start());
  sc.IdleTime = 300;
  sc.LifeTime = 7200;
  Open(sc);
  // Open request for connection 2 to 127.0.0.5:3389 from a client on 127.0.0.1; no ready answer
  // exists in this protocol, so the echo is the first thing to come back.
  ASSERT_TRUE(client.Send(Hex("09 7f000001 0087 0002 00000008 0004 0d3d 7f000005")));
  ASSERT_TRUE(client.Send(Concat({LegacyHeader(6, "127.0.0.1", 135, 2, 4), TBytes{9, 8, 7, 6}})));
  auto echoed = client.Read(17);
  ASSERT_TRUE(echoed);
  EXPECT_EQ(*echoed, Hex("06 00000000 0000 0002 00000004 09080706"));
  auto open = peer->WaitForMessage(9, kWait);
  ASSERT_TRUE(open);
  EXPECT_EQ(FormatDottedQuad(open->DestAddr), "127.0.0.5");
  EXPECT_EQ(open->DestPort, 3389);

  // Timers: idle little-endian in ListenIP, lifetime big-endian in Len, no payload.
  ASSERT_TRUE(client.Send(Concat({LegacyHeader(23), LegacyHeader(13)})));
  EXPECT_EQ(*client.Read(13), Hex("17 2c010000 0000 0000 00001c20"));
  ASSERT_TRUE(
      peer->WaitForCounters([](const TPeerCounters& c) { return c.Keepalives == 1; }, kWait));

  auto init = peer->WaitForMessage(15, kWait);
  ASSERT_TRUE(init);
  EXPECT_EQ(init->Payload, (TBytes{'X', 'Y', 'Z'}));
  auto module = peer->WaitForMessage(16, kWait);
  ASSERT_TRUE(module);
  EXPECT_EQ(module->Raw(), Hex("10 00000000 0000 0000 00000002 6d31"));
  EXPECT_EQ(peer->HttpRequest(), kRequest);
  EXPECT_TRUE(peer->Errors().empty());
}

TEST_F(LegacyProtocol, ReuseOfAnUnannouncedIdentifierAndBadOpenPayloads) {
  TTcpTestServer echo(TTcpServerMode::Echo);
  uint16_t echoPort = echo.Start();
  TGatewayScenario sc;
  Open(sc);
  TBytes open = Concat({LegacyHeader(9, "127.0.0.1", 135, 4, 8), Hex("0004"),
                        TBytes{static_cast<uint8_t>(echoPort >> 8), static_cast<uint8_t>(echoPort)},
                        Hex("7f000001")});
  // The legacy client never announces its own closes, so a second open of the same identifier
  // replaces the first destination without complaint.
  ASSERT_TRUE(client.Send(Concat({open, open})));
  ASSERT_TRUE(echo.WaitFor([](const TTcpServerCounters& c) { return c.Accepted == 2; }, kWait));
  EXPECT_TRUE(echo.WaitFor([](const TTcpServerCounters& c) { return c.Closed == 1; }, kWait));
  ASSERT_TRUE(
      client.Send(Concat({LegacyHeader(9, "127.0.0.1", 135, 5, 6), Hex("0004 0d3d 7f00")})));
  ASSERT_TRUE(peer->WaitForMessage(9, kWait, 3));
  ASSERT_EQ(peer->Errors().size(), 1u);
  EXPECT_NE(peer->Errors()[0].find("malformed open request payload"), std::string::npos);
}

TEST(LegacyRequest, ReplyIsExactlyTheScenarioText) {
  TGatewayScenario sc;
  sc.Protocol = TProtocol::Legacy;
  sc.HttpReply = std::string(kReply) + "!";
  sc.TunnelUpCode = 0;
  TGatewayPeer peer(sc);
  TRawTlsClient c;
  ASSERT_TRUE(c.Connect(peer.Start()));
  ASSERT_TRUE(c.Send(std::string(kRequest)));
  auto reply = c.ReadRecord();
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::string(reply->begin(), reply->end()), sc.HttpReply);
  // The first protocol's request is not accepted by a legacy peer.
  TRawTlsClient wrong;
  ASSERT_TRUE(wrong.Connect(peer.Port()));
  ASSERT_TRUE(wrong.Send(std::string("GET /vpntunnel HTTP/1.1\r\n\r\n")));
  TBytes all = wrong.ReadToEnd();
  EXPECT_EQ(std::string(all.begin(), all.end()), "HTTP/1.1 400 Bad Request\r\n\r\n");
}

}  // namespace

}  // namespace vantrel::testpeer::test
