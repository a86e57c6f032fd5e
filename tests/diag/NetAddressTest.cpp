#include "diag/NetAddress.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(NetAddress, DottedQuadIsStrict) {
  uint32_t a = 0;
  EXPECT_TRUE(ParseDottedQuad("10.1.2.255", a));
  EXPECT_EQ(a, 0x0A0102FFu);
  for (const char* good : {"0.0.0.0", "255.255.255.255", "127.000.0.1", "010.1.1.1"})
    EXPECT_TRUE(IsDottedQuad(good)) << good;
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.", ".1.2.3", " 1.2.3.4",
        "1.2.3.4 ", "+1.2.3.4", "-0.1.2.3", "1.2.3.0004", "1.2.3.1234", "00001.2.3.4",
        "99999999999.1.1.1", "host.example", "1.2.3.4:80"})
    EXPECT_FALSE(IsDottedQuad(bad)) << bad;
  EXPECT_EQ(FormatDottedQuad(0x0A0102FFu), "10.1.2.255");
}

TEST(NetAddress, ResolveDottedAsksOnlyForNames) {
  int asked = 0;
  uint32_t answer = 0;
  TTunnelResolver resolve = [&](const std::string&) {
    ++asked;
    return answer;
  };
  std::string out = "unchanged";
  EXPECT_TRUE(ResolveDotted("10.0.0.7", resolve, out));
  EXPECT_EQ(out, "10.0.0.7");
  EXPECT_EQ(asked, 0);

  const uint8_t net[4] = {192, 168, 1, 20};
  answer = net[0] | net[1] << 8 | net[2] << 16 | static_cast<uint32_t>(net[3]) << 24;
  EXPECT_TRUE(ResolveDotted("pc.corp", resolve, out));
  EXPECT_EQ(out, "192.168.1.20");

  for (uint32_t none : {kResolveNotFound, kResolveNotYet}) {
    answer = none;
    out = "unchanged";
    EXPECT_FALSE(ResolveDotted("pc.corp", resolve, out));
    EXPECT_EQ(out, "unchanged");
  }
}

}  // namespace
}  // namespace vantrel
