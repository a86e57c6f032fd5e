#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/NetAddress.h"
#include "tunnel/LegacyWire.h"

namespace vantrel {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes Header(const TLegacyAppHeader& prmHdr) {
  TBytes out(kLegacyHeaderSize);
  EncodeLegacyHeader(prmHdr, out.data());
  return out;
}

TEST(PelxWire, OpenRequestForConnectionTwo) {
  uint32_t loopback = 0, dest = 0;
  ASSERT_TRUE(ParseDottedQuad("127.0.0.1", loopback));
  ASSERT_TRUE(ParseDottedQuad("127.0.0.5", dest));
  TBytes payload = EncodeLegacyOpen(dest, 3389);
  TBytes msg = Header({mcOpen, loopback, kLegacyConnPort, 2, static_cast<int32_t>(payload.size())});
  msg.insert(msg.end(), payload.begin(), payload.end());
  EXPECT_EQ(msg, TBytes({0x09, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x87, 0x00, 0x02, 0x00, 0x00,
                         0x00, 0x08, 0x00, 0x04, 0x0d, 0x3d, 0x7f, 0x00, 0x00, 0x05}));
}

TEST(PelxWire, GatewayHeaderFieldsAndLittleEndianIdleTime) {
  const uint8_t timers[] = {23, 0x2c, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x0e, 0x10};
  TLegacyAppHeader h = DecodeLegacyHeader(timers);
  EXPECT_EQ(h.ActionCode, 23u);
  EXPECT_EQ(LegacyIdleTime(h), 300u);
  EXPECT_EQ(h.Len, 3600);

  const uint8_t data[] = {6, 0, 0, 0, 0, 0, 0, 0x01, 0xf3, 0x00, 0x01, 0x00, 0x00};
  h = DecodeLegacyHeader(data);
  EXPECT_EQ(h.RemotePort, 499);
  EXPECT_EQ(h.Len, 65536);
  // Round trip of every field, the resolve answer's address in network order included.
  TLegacyAppHeader r{20, 0x7f000005, 0x1234, 0xabcd, 0x01020304};
  TBytes enc = Header(r);
  EXPECT_EQ(enc, TBytes({20, 0x7f, 0, 0, 5, 0x12, 0x34, 0xab, 0xcd, 1, 2, 3, 4}));
  TLegacyAppHeader back = DecodeLegacyHeader(enc.data());
  EXPECT_EQ(FormatDottedQuad(back.ListenIP), "127.0.0.5");
  EXPECT_EQ(back.ListenPort, 0x1234);
  EXPECT_EQ(back.RemotePort, 0xabcd);
  EXPECT_EQ(back.Len, 0x01020304);
}

TEST(PelxWire, SessionInitIsTheTextAfterTheFirstPlusCutTo255) {
  EXPECT_EQ(LegacySessionInit("abc+XYZ"), "XYZ");
  EXPECT_EQ(LegacySessionInit("abc"), "");
  EXPECT_EQ(LegacySessionInit("abc+"), "");
  EXPECT_EQ(LegacySessionInit("a+b+c"), "b+c");
  EXPECT_EQ(LegacySessionInit("+" + std::string(300, 'q')), std::string(255, 'q'));
}

TEST(PelxWire, TunnelRequestAndExactReply) {
  EXPECT_EQ(BuildLegacyTunnelRequest("sid=1"),
            "GET /prx/000/http/localhost/clientappcontrol HTTP/1.0\r\nConnection: Keep-Alive\r\n"
            "Cookie: sid=1\r\n\r\n");
  const std::string ok = "HTTP/1.1 200 Connection Established\r\n\r\n";
  EXPECT_TRUE(IsLegacyReplyOk(ok));
  EXPECT_FALSE(IsLegacyReplyOk(ok + "x"));
  EXPECT_FALSE(IsLegacyReplyOk(ok + std::string(1, '\0')));
  EXPECT_FALSE(IsLegacyReplyOk(ok.substr(0, ok.size() - 2)));
  EXPECT_FALSE(IsLegacyReplyOk("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_FALSE(IsLegacyReplyOk("http/1.1 200 connection established\r\n\r\n"));
  EXPECT_FALSE(IsLegacyReplyOk(""));
}

}  // namespace
}  // namespace vantrel
