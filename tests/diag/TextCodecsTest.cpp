#include "diag/TextCodecs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "diag/Exceptions.h"

namespace vantrel {
namespace {

struct TUrlCase {
  const char* Url;
  const char* Host;
  int Port;
  const char* Path;
};

TEST(TextCodecs, SplitURLCases) {
  const TUrlCase cases[] = {
      {"http://srv/query/info?_x=1", "srv", 80, "query/info?_x=1"},
      {"http://srv:8080/a", "srv", 8080, "a"},
      {"http://srv:8080", "srv", 8080, ""},
      {"http://srv", "srv", 80, ""},
      {"http://srv:/a", "srv", 80, "a"},
      {"http://srv:x/a", "srv", 80, "/a"},
      {"http://", "", 80, ""},
      {"", "", 80, ""},
      {"http://h:99999999999/p", "h", 80, "p"},
  };
  for (const auto& c : cases) {
    std::string host, path;
    int port = -1;
    SplitURL(c.Url, host, port, path);
    EXPECT_EQ(host, c.Host) << c.Url;
    EXPECT_EQ(port, c.Port) << c.Url;
    EXPECT_EQ(path, c.Path) << c.Url;
  }
}

TEST(TextCodecs, SplitHostPort) {
  std::string host;
  int port = 0;
  SplitHostPort("srv:abc", 80, host, port);
  EXPECT_EQ(host, "srv");
  EXPECT_EQ(port, 80);
  SplitHostPort(":443", 80, host, port);
  EXPECT_EQ(host, "");
  EXPECT_EQ(port, 443);
  SplitHostPort("xen1", 1494, host, port);
  EXPECT_EQ(host, "xen1");
  EXPECT_EQ(port, 1494);
}

TEST(TextCodecs, FormURLCoding) {
  EXPECT_EQ(FormURLEncode("a b&c~"), "a+b%26c%7e");
  EXPECT_EQ(FormURLEncode("A-Z_09.!"), "A-Z_09.!");
  EXPECT_EQ(FormURLEncode(std::string("\0\xff", 2)), "%00%ff");
  EXPECT_EQ(FormURLDecode("a+b%26%%"), "a b&%");
  EXPECT_EQ(FormURLDecode("%7E%7e"), "~~");
  for (const char* bad : {"abc%4", "%", "x%A"}) {
    try {
      FormURLDecode(bad);
      ADD_FAILURE() << bad;
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.GetMsg().rfind("Error decoding URL style (%XX) encoded string at position ", 0),
                0u)
          << e.GetMsg();
    }
  }
  try {
    FormURLDecode("ab%zz");
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Invalid URL encoded character (%zz) at position 3");
  }
}

TEST(TextCodecs, Base64) {
  auto abc = Base64Decode("QUJD\r\nREVG");
  EXPECT_EQ(std::string(abc.begin(), abc.end()), "ABCDEF");
  EXPECT_EQ(Base64Decode("QQ==").size(), 1u);
  EXPECT_EQ(Base64Decode("QUI=").size(), 2u);
  EXPECT_TRUE(Base64Decode("").empty());
  try {
    Base64Decode("QUJ");
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "sxeErrorCalcStreamLength");
  }
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("A"), "QQ==");
  EXPECT_EQ(Base64Encode("AB"), "QUI=");
  EXPECT_EQ(Base64Encode("ABC"), "QUJD");
  // Round trip over every byte value.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  auto back = Base64Decode(Base64Encode(all));
  EXPECT_EQ(std::string(back.begin(), back.end()), all);
}

TEST(TextCodecs, HexDumpsAndCab) {
  EXPECT_EQ(BytesToHex("\x01\xab", 2), "01AB");
  EXPECT_EQ(TextToHex("A\n"), "410A");
  EXPECT_EQ(TextToHex("\xc3\xa9"), "E9");
  EXPECT_TRUE(IsCabFile("http://x/msrdp.cab"));
  EXPECT_TRUE(IsCabFile("CAB"));
  EXPECT_FALSE(IsCabFile("ab"));
  EXPECT_FALSE(IsCabFile("x.cab "));
}

TEST(TextCodecs, FormatMsg) {
  EXPECT_EQ(EBaseException::CreateFmt("Error %d (%x) %s", -1, 0x80090318u, "t").GetMsg(),
            "Error -1 (80090318) t");
  EXPECT_EQ(EBaseException::CreateFmt("%x", -2146893032).GetMsg(), "80090318");
  EXPECT_EQ(EBaseException::CreateFmt("100%% %d").GetMsg(), "100% %d");
}

TEST(TextCodecs, Base64DecodeEdges) {
  auto str = [](const TBytes& b) { return std::string(b.begin(), b.end()); };
  // Only trailing "=" shorten the output; an inner one counts as zero bits.
  EXPECT_EQ(Base64Decode("QQ=A").size(), 3u);
  EXPECT_EQ(str(Base64Decode(" QU\tJD \n")), "ABC");
  EXPECT_EQ(Base64Decode("!!!!"), TBytes(3, 0));  // outside the alphabet counts as 0
  EXPECT_EQ(Base64Decode("====").size(), 1u);
  EXPECT_TRUE(Base64Decode(" \r\n\t").empty());
  for (const char* bad : {"Q", "QUJDR", "QQ=", "QUJD\r\nRE"}) {
    try {
      Base64Decode(bad);
      ADD_FAILURE() << bad;
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.GetMsg(), "sxeErrorCalcStreamLength");
    }
  }
}

TEST(TextCodecs, FormURLEdges) {
  // Every byte outside the safe set is escaped, so decoding gives back any input.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string enc = FormURLEncode(all);
  for (char c : enc)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!$'()*-.@_%+", c))
        << static_cast<int>(static_cast<unsigned char>(c));
  EXPECT_EQ(FormURLDecode(enc), all);
  EXPECT_EQ(FormURLEncode("+%"), "%2b%25");
  EXPECT_EQ(FormURLDecode("%%41"), "%41");
  try {
    FormURLDecode("ab%");
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Error decoding URL style (%XX) encoded string at position 3");
  }
}

TEST(TextCodecs, HexDumpOfBrokenUtf8AndStrictIntegers) {
  EXPECT_EQ(TextToHex("\xc3"
                      "A"),
            "C341");  // a lead byte without its continuation
  EXPECT_EQ(TextToHex("\xe2\x82\xac"), "20AC");
  EXPECT_EQ(TextToHex(std::string("\0", 1)), "00");
  int v = 7;
  EXPECT_FALSE(TryStrToInt("+-5", v));
  EXPECT_FALSE(TryStrToInt("5 ", v));
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(TryStrToInt("-2147483648", v));
  EXPECT_EQ(v, -2147483647 - 1);
  EXPECT_TRUE(TryStrToInt("+443", v));
  EXPECT_EQ(v, 443);
}

TEST(TextCodecs, PortsOutsideTheTcpRangeAreNeverWrappedOrReplaced) {
  const struct {
    const char* Text;
    int Port;
  } cases[] = {
      {"3390", 3390},
      {" +1", 1},
      {"65535", 65535},
      {"65536", kNoPort},
      {"70000", kNoPort},
      {"0", kNoPort},
      {"-1", kNoPort},
      {"4294967296", kNoPort},
      {"99999999999", kNoPort},
      {"", 42},
      {"abc", 42},
      {"33 ", 42},
      {"+-5", 42},
  };
  for (const auto& c : cases) EXPECT_EQ(PortOr(c.Text, 42), c.Port) << c.Text;
}

}  // namespace
}  // namespace vantrel
