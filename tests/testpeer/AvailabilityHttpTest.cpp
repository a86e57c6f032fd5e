// The availability peer's HTTP framing: what it accepts, where it stops waiting for more, and
// what garbage it refuses with which status.
#include <gtest/gtest.h>

#include "AvailabilityRawHttp.h"
#include "testpeer/AvailabilityHttp.h"

namespace vantrel::testpeer {
namespace {

THttpParseResult Parse(const std::string& prmText, THttpRequest& prmRequest) {
  return ParseHttpRequest(prmText, prmRequest);
}

TEST(AvailabilityHttp, QueryKeepsOrderRawValuesAndDecodesOnRequest) {
  THttpRequest r;
  std::string text =
      "GET /query/hosts?_instid=inst%201&_uname=bob&_clv=&_pid=p%26w&_devtype=1&&flag HTTP/1.1\r\n"
      "Host: 127.0.0.1:9090\r\nAccept:  */*  \r\n\r\n";
  auto res = Parse(text, r);
  ASSERT_EQ(res.State, THttpParse::Complete);
  EXPECT_EQ(res.Consumed, text.size());
  EXPECT_EQ(r.Method, "GET");
  EXPECT_EQ(r.Path, "/query/hosts");
  EXPECT_EQ(r.ParamNames(),
            (std::vector<std::string>{"_instid", "_uname", "_clv", "_pid", "_devtype", "flag"}));
  EXPECT_EQ(r.RawParam("_instid"), "inst%201");
  EXPECT_EQ(r.Param("_instid"), "inst 1");
  EXPECT_EQ(r.Param("_pid"), "p&w");
  EXPECT_TRUE(r.HasParam("_clv"));
  EXPECT_FALSE(r.HasParam("_id"));
  EXPECT_EQ(r.Header("accept"), "*/*");
  EXPECT_TRUE(r.KeepAlive);
  // A value that is not valid form-URL text is handed back as sent rather than dropped.
  ASSERT_EQ(Parse("GET /a?x=%zz HTTP/1.1\r\n\r\n", r).State, THttpParse::Complete);
  EXPECT_EQ(r.Param("x"), "%zz");
}

TEST(AvailabilityHttp, BodyWaitsForContentLengthAndPipelinedRequestsSplit) {
  std::string first = "POST /query/iconcache HTTP/1.1\r\nContent-Length: 6\r\n\r\nc1a,c1";
  std::string second = "GET /query/info HTTP/1.1\r\nConnection: close\r\n\r\n";
  THttpRequest r;
  for (size_t cut = 0; cut < first.size(); ++cut)
    ASSERT_EQ(Parse(first.substr(0, cut), r).State, THttpParse::Incomplete) << cut;
  auto res = Parse(first + second, r);
  ASSERT_EQ(res.State, THttpParse::Complete);
  EXPECT_EQ(r.Body, "c1a,c1");
  EXPECT_EQ(res.Consumed, first.size());
  res = Parse((first + second).substr(res.Consumed), r);
  ASSERT_EQ(res.State, THttpParse::Complete);
  EXPECT_EQ(r.Path, "/query/info");
  EXPECT_FALSE(r.KeepAlive);
  EXPECT_TRUE(r.Body.empty());
}

TEST(AvailabilityHttp, KeepAliveFollowsVersionAndConnectionHeader) {
  THttpRequest r;
  ASSERT_EQ(Parse("GET / HTTP/1.0\r\n\r\n", r).State, THttpParse::Complete);
  EXPECT_FALSE(r.KeepAlive);
  ASSERT_EQ(Parse("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", r).State,
            THttpParse::Complete);
  EXPECT_TRUE(r.KeepAlive);
  ASSERT_EQ(Parse("GET / HTTP/1.1\r\nconnection: Close\r\n\r\n", r).State, THttpParse::Complete);
  EXPECT_FALSE(r.KeepAlive);
}

TEST(AvailabilityHttp, AbsoluteTargetsAndLeadingBlankLines) {
  THttpRequest r;
  ASSERT_EQ(
      Parse("\r\n\r\nGET http://127.0.0.1:9090/query/avail?_sessid=3 HTTP/1.1\r\n\r\n", r).State,
      THttpParse::Complete);
  EXPECT_EQ(r.Path, "/query/avail");
  EXPECT_EQ(r.Param("_sessid"), "3");
  ASSERT_EQ(Parse("GET http://srv HTTP/1.1\r\n\r\n", r).State, THttpParse::Complete);
  EXPECT_EQ(r.Path, "/");
}

TEST(AvailabilityHttp, GarbageIsRefusedWithItsStatus) {
  struct TCase {
    std::string Text;
    int Status;
  };
  const TCase cases[] = {
      {"hello\r\n\r\n", 400},
      {"GET /a\r\n\r\n", 400},
      {"GET  /a HTTP/1.1\r\n\r\n", 400},
      {"GET /a HTTP/1.1 extra\r\n\r\n", 400},
      {"G(T /a HTTP/1.1\r\n\r\n", 400},
      {"GET a HTTP/1.1\r\n\r\n", 400},
      {"GET /a\x01 HTTP/1.1\r\n\r\n", 400},
      {"GET /a HTTP/2.0\r\n\r\n", 505},
      {"GET /a FTP/1.1\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nNoColon\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nBad Name: x\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nX: a\x02z\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", 400},
      {"GET /a HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n", 400},
      {"POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"POST /a HTTP/1.1\r\nContent-Length: 9999999999999\r\n\r\n", 400},
      {"POST /a HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413},
      {"POST /a HTTP/1.1\r\nContent-Length: " + std::to_string(kMaxHttpBody + 1) + "\r\n\r\n", 413},
  };
  for (const TCase& c : cases) {
    THttpRequest r;
    r.Path = "untouched";
    auto res = Parse(c.Text, r);
    EXPECT_EQ(res.State, THttpParse::Bad) << c.Text;
    EXPECT_EQ(res.Status, c.Status) << c.Text;
    EXPECT_FALSE(res.Error.empty());
    EXPECT_EQ(r.Path, "untouched") << "a refused request leaves the output alone";
  }
  // Equal repeated lengths are one length.
  THttpRequest r;
  EXPECT_EQ(Parse("POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx", r).State,
            THttpParse::Complete);
}

TEST(AvailabilityHttp, HeaderSectionIsBoundedEvenWithoutItsEnd) {
  THttpRequest r;
  std::string endless = "GET /a HTTP/1.1\r\nX: " + std::string(kMaxHttpHeader, 'a');
  auto res = Parse(endless, r);
  EXPECT_EQ(res.State, THttpParse::Bad);
  EXPECT_EQ(res.Status, 431);
  res = Parse(endless + "\r\n\r\n", r);
  EXPECT_EQ(res.Status, 431);
  std::string justFits = "GET /a HTTP/1.1\r\nX: ";
  justFits += std::string(kMaxHttpHeader - justFits.size(), 'a');
  EXPECT_EQ(Parse(justFits + "\r\n\r\n", r).State, THttpParse::Complete);
}

// Random mixtures of request pieces: every outcome keeps its contract, whatever the bytes.
TEST(AvailabilityHttp, RandomInputKeepsTheParserContract) {
  const char* const pieces[] = {"GET ",
                                "POST ",
                                "/",
                                "?a=1",
                                "&",
                                " HTTP/1.1",
                                " HTTP/1.0",
                                "\r\n",
                                "\r",
                                "\n",
                                ":",
                                " ",
                                "Content-Length: ",
                                "7",
                                "0",
                                "x",
                                "\x80",
                                "\t",
                                "Connection: close"};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    int count = static_cast<int>(next() % 40);
    for (int i = 0; i < count; ++i) text += pieces[next() % std::size(pieces)];
    if (next() % 2) text += "\r\n\r\n";
    THttpRequest r;
    auto res = ParseHttpRequest(text, r);
    switch (res.State) {
      case THttpParse::Complete:
        EXPECT_LE(res.Consumed, text.size()) << text;
        EXPECT_FALSE(r.Method.empty());
        EXPECT_EQ(r.Path.front(), '/');
        break;
      case THttpParse::Incomplete:
        EXPECT_LE(text.size(), kMaxHttpHeader + kMaxHttpBody);
        break;
      case THttpParse::Bad:
        EXPECT_TRUE(res.Status == 400 || res.Status == 413 || res.Status == 431 ||
                    res.Status == 501 || res.Status == 505)
            << res.Status;
        break;
    }
  }
}

TEST(AvailabilityHttp, RepliesFrameTheirBodies) {
  using test::ParseRawReply;
  auto plain = ParseRawReply(BuildHttpReply(200, "<OQN/>", true));
  EXPECT_EQ(plain.Status, 200);
  EXPECT_EQ(plain.Header("Content-Length"), "6");
  EXPECT_EQ(plain.Header("Connection"), "keep-alive");
  EXPECT_EQ(plain.Header("Content-Type"), "text/xml");
  EXPECT_EQ(plain.Body, "<OQN/>");

  auto closing = ParseRawReply(BuildHttpReply(404, "", false, "text/plain", {{"X-A", "1"}}));
  EXPECT_EQ(closing.Status, 404);
  EXPECT_EQ(closing.Header("Connection"), "close");
  EXPECT_EQ(closing.Header("X-A"), "1");

  // The chunked form: sizes in hexadecimal, 1000-byte chunks, a zero chunk at the end.
  std::string body(2500, 'b');
  body[0] = 'a';
  auto chunked = ParseRawReply(BuildHttpReply(200, body, false, "text/xml", {}, true));
  EXPECT_EQ(chunked.Header("Transfer-Coding"), "CHUNKED");
  EXPECT_TRUE(chunked.Header("Content-Length").empty());
  std::string decoded, rest = chunked.Body;
  int chunks = 0;
  for (;;) {
    size_t eol = rest.find("\r\n");
    ASSERT_NE(eol, std::string::npos);
    size_t size = std::stoul(rest.substr(0, eol), nullptr, 16);
    if (size == 0) {
      EXPECT_EQ(rest.substr(eol), "\r\n\r\n");
      break;
    }
    decoded += rest.substr(eol + 2, size);
    ASSERT_EQ(rest.substr(eol + 2 + size, 2), "\r\n");
    rest = rest.substr(eol + 4 + size);
    ++chunks;
  }
  EXPECT_EQ(decoded, body);
  EXPECT_EQ(chunks, 3);
}

}  // namespace
}  // namespace vantrel::testpeer
