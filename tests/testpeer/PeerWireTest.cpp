// Pure parts of the gateway peer: header coding, log records, request templates, scenarios.
#include <gtest/gtest.h>

#include "RawTlsClient.h"
#include "diag/Exceptions.h"
#include "testpeer/PeerScenario.h"
#include "testpeer/PeerWire.h"

namespace vantrel::testpeer::test {

namespace {

TEST(PeerWire, DecodesClientHeadersOfBothProtocols) {
  TBytes first = Hex("06 00 00 00 05 00 00 7f 0d 3d 00 03 00 00 00 64");
  TWireHeader h = DecodeHeader(TProtocol::First, first.data());
  EXPECT_EQ(h.ActionCode, 6u);
  EXPECT_EQ(FormatDottedQuad(FirstProtocolDestAddr(h)), "127.0.0.5");
  EXPECT_EQ(h.ListenPort, 3389);
  EXPECT_EQ(h.RemotePort, 3);
  EXPECT_EQ(h.Len, 100u);
  EXPECT_EQ(EncodeHeader(TProtocol::First, h), first);

  TBytes legacy = Hex("09 7f 00 00 01 00 87 00 02 00 00 00 08 00 04 0d 3d 7f 00 00 05");
  h = DecodeHeader(TProtocol::Legacy, legacy.data());
  EXPECT_EQ(h.ActionCode, 9u);
  EXPECT_EQ(h.ListenPort, 135);
  EXPECT_EQ(h.RemotePort, 2);
  EXPECT_EQ(h.Len, 8u);
  EXPECT_EQ(EncodeHeader(TProtocol::Legacy, h), TBytes(legacy.begin(), legacy.begin() + 13));
  uint32_t addr = 0;
  uint16_t port = 0;
  ASSERT_TRUE(ParseLegacyOpen(TBytes(legacy.begin() + 13, legacy.end()), addr, port));
  EXPECT_EQ(FormatDottedQuad(addr), "127.0.0.5");
  EXPECT_EQ(port, 3389);
  EXPECT_FALSE(ParseLegacyOpen(Hex("0002 0d3d 7f000005"), addr, port));
  EXPECT_FALSE(ParseLegacyOpen(Hex("0004 0d3d 7f0000"), addr, port));
}

TEST(PeerWire, ParsesLogRecordsStrictly) {
  TBytes ok = Hex("06 03 616263 0000000000000000 00 0000000000000000000000000000 02 6869");
  TLogRecord r;
  std::string why;
  ASSERT_TRUE(ParseLogRecord(ok, r, why)) << why;
  EXPECT_EQ(FormatLogRecord(r), "log level=6 protocol=\"abc\" dest=0 destname=\"\" msg=\"hi\"");
  TBytes dest = Hex("02 00 00000000 0a000000 01 78 0000000000000000000000000000 00");
  ASSERT_TRUE(ParseLogRecord(dest, r, why)) << why;
  EXPECT_EQ(r.Dest, 10u);  // little-endian
  EXPECT_EQ(r.DestName, "x");

  // Every truncation fails and leaves the record as it was.
  for (size_t n = 0; n < ok.size(); ++n) {
    TLogRecord before = r;
    EXPECT_FALSE(ParseLogRecord(TBytes(ok.begin(), ok.begin() + n), r, why)) << n;
    EXPECT_EQ(r.Message, before.Message);
  }
  TBytes extra = ok;
  extra.push_back(0);
  EXPECT_FALSE(ParseLogRecord(extra, r, why));
  TBytes gap = ok;
  gap[5] = 1;
  EXPECT_FALSE(ParseLogRecord(gap, r, why));
  EXPECT_NE(why.find("gap"), std::string::npos);
}

TEST(PeerWire, MatchesRequestTemplates) {
  TGatewayScenario sc;
  std::vector<std::string> v;
  std::string req =
      "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: h\r\nCookie: a=b; c\r\nappid: "
      "Vantrel\r\nclientid: \r\n\r\n";
  ASSERT_TRUE(MatchTemplate(sc.RequestTemplate(), req, v));
  EXPECT_EQ(v, (std::vector<std::string>{"h", "a=b; c", ""}));
  EXPECT_FALSE(MatchTemplate(sc.RequestTemplate(), req + "x", v));
  std::string lowerCase = req;
  lowerCase[0] = 'g';
  EXPECT_FALSE(MatchTemplate(sc.RequestTemplate(), lowerCase, v));
  EXPECT_FALSE(MatchTemplate(sc.RequestTemplate(), req.substr(0, 60), v));
}

TEST(PeerScenario, ReadsJsonAndRejectsMistakes) {
  TGatewayScenario s = ScenarioFromJson(R"({"protocol": "legacy", "silentCodes": [9, 18],
      "unknownHostAddress": "10.9.8.7", "afterUp": [{"delayMs": 5}, {"hex": "0d00"},
      {"close": true}], "refuse": "ready-close", "hosts": {"a": "10.0.0.1"}})");
  EXPECT_EQ(s.Protocol, TProtocol::Legacy);
  EXPECT_TRUE(s.IsSilent(9));
  EXPECT_FALSE(s.IsSilent(20));
  EXPECT_EQ(FormatDottedQuad(s.UnknownHostAddress), "10.9.8.7");
  ASSERT_EQ(s.AfterUp.size(), 3u);
  EXPECT_EQ(s.AfterUp[1].Bytes, (TBytes{0x0d, 0x00}));
  EXPECT_TRUE(s.AfterUp[2].Close);
  EXPECT_EQ(s.RefuseMode, TRefuseMode::ReadyClose);
  EXPECT_EQ(s.EffectiveHttpReply(), "HTTP/1.1 200 Connection Established\r\n\r\n");

  for (const char* bad :
       {"[]", "{", R"({"userNmae": "x"})", R"({"port": 70000})", R"({"protocol": "third"})",
        R"({"listenAddress": "10.0.0.1"})", R"({"hosts": {"a": "not-an-address"}})",
        R"({"afterUp": [{"hex": "0g"}]})", R"({"tunnelUpCode": "1"})"}) {
    try {
      ScenarioFromJson(bad);
      ADD_FAILURE() << bad;
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.GetMsg().rfind("scenario: ", 0), 0u) << e.GetMsg();
    }
  }
}

TEST(PeerScenario, DemoFileIsValid) {
  TGatewayScenario s = ScenarioFromFile(VANTREL_TESTPEER_DEMO);
  EXPECT_FALSE(s.Mapping.empty());
  EXPECT_FALSE(s.Hosts.empty());
}

}  // namespace

}  // namespace vantrel::testpeer::test
