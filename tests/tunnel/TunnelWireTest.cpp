#include "tunnel/TunnelWire.h"

#include "diag/NetAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(TunnelWire, DataHeaderForConnectionThree) {
  uint32_t addr = 0;
  ASSERT_TRUE(ParseDottedQuad("127.0.0.5", addr));
  uint8_t out[kHeaderSize];
  EncodeHeader({mcData, addr, 3389, 3, 100}, out);
  EXPECT_EQ(Bytes(out, out + kHeaderSize),
            (Bytes{0x06, 0, 0, 0, 0x05, 0, 0, 0x7f, 0x0d, 0x3d, 0x00, 0x03, 0, 0, 0, 0x64}));
}

TEST(TunnelWire, GatewayHeaderReadsOnlyFirstCodeByteAndBigEndianFields) {
  const uint8_t in[kHeaderSize] = {0x14, 0xAA, 0xBB, 0xCC, 0x7f, 0,    0,    5,
                                   0x01, 0x02, 0x01, 0xF4, 0xFF, 0xFF, 0xFF, 0xFE};
  TLegacyAppHeader h = DecodeHeader(in);
  EXPECT_EQ(h.ActionCode, 20u);
  EXPECT_EQ(FormatDottedQuad(h.ListenIP), "127.0.0.5");
  EXPECT_EQ(h.RemotePort, 500);
  EXPECT_EQ(h.Len, -2);  // negative lengths stay negative: no payload
  // The resolve answer 7f 00 00 05 in network byte order formats as 127.0.0.5.
  in_addr a{htonl(h.ListenIP)};
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &a, text, sizeof text);
  EXPECT_STREQ(text, "127.0.0.5");
  EXPECT_EQ(FormatNetAddress(htonl(h.ListenIP)), "127.0.0.5");
}

TEST(TunnelWire, LogRecordLayout) {
  Bytes rec = EncodeLogRecord(6, "abc", 0, "", "hi");
  Bytes expected{0x06, 0x03, 'a', 'b', 'c'};
  expected.insert(expected.end(), 8, 0);
  expected.push_back(0);
  expected.insert(expected.end(), 14, 0);
  expected.insert(expected.end(), {0x02, 'h', 'i'});
  EXPECT_EQ(rec.size(), 31u);
  EXPECT_EQ(rec, expected);
}

TEST(TunnelWire, LogRecordDestinationAndCutTexts) {
  std::string longText(300, 'x');
  Bytes rec = EncodeLogRecord(2, longText, 0x01020304, "dn", longText);
  // 26 fixed bytes plus three texts, each cut to 120 characters.
  EXPECT_EQ(rec.size(), 26u + 120 + 2 + 120);
  EXPECT_EQ(rec[1], 120);
  const size_t destAt = 2 + 120 + 4;
  EXPECT_EQ(Bytes(rec.begin() + destAt, rec.begin() + destAt + 4), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(rec[destAt + 4], 2);
}

TEST(TunnelWire, TunnelRequestIsExact) {
  EXPECT_EQ(BuildTunnelRequest("gw.example", "sid=42", "dev-1"),
            "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: gw.example\r\n"
            "Cookie: sid=42\r\nappid: Vantrel\r\nclientid: dev-1\r\n\r\n");
}

TEST(TunnelWire, ReplyCheckNeedsExactStatusBeforeFirstZero) {
  auto ok = [](std::string s) { return IsTunnelReplyOk(s.data(), s.size()); };
  EXPECT_TRUE(ok("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_TRUE(ok("HTTP/1.1 200"));
  EXPECT_FALSE(ok("HTTP/1.0 200 OK\r\n\r\n"));
  EXPECT_FALSE(ok("HTTP/1.1 403 Forbidden\r\n\r\n"));
  EXPECT_FALSE(ok("http/1.1 200 OK\r\n"));
  EXPECT_FALSE(
      ok(std::string("HTTP/1.1 2\0"
                     "00 OK",
                     16)));
  EXPECT_FALSE(ok(""));
}

TEST(TunnelWire, NamesAreCutAtZeroAndAtBufferSize) {
  const uint8_t withZero[] = {'b', 'o', 'b', 0, 'x'};
  EXPECT_EQ(NameFromPayload(withZero, sizeof withZero), "bob");
  Bytes big(5000, 'n');
  EXPECT_EQ(NameFromPayload(big.data(), big.size()).size(), kMaxNameLen);
  EXPECT_EQ(NameFromPayload(nullptr, 0), "");
}

}  // namespace
}  // namespace vantrel
