#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "session/FileExchange.h"
#include "session/FileExchangeDoubles.h"
#include "session/FileExchangeFormat.h"
#include "session/FileExchangeTestServer.h"
#include "support/LogCapture.h"
#include "tunnel/LocalHost.h"

namespace vantrel::test {
namespace {

class FileExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Host.Tunnel.TargetPort = Server.Port();
    Host.Store.SetOstraServer("10.0.0.5:9090");
  }

  std::vector<std::string> Reports() { return Host.UI.Reports(); }

  THttpTestServer Server;
  TFileExchangeHostDouble Host;
  TFileExchange Files{Host};
};

TEST_F(FileExchangeTest, DirectFetchGoesThroughAListenerAndReportsInOrder) {
  const std::string body(2 * kFileBlockSize, 'b');
  Server.Script({THttpTestServer::Reply(200, body)});
  std::string got, failure = "stale";
  ASSERT_TRUE(Files.GetFile("http://10.1.2.3:8080/agent/info?x=1", got, 5, "Downloading", failure));
  EXPECT_EQ(got, body);
  EXPECT_EQ(failure, "");
  EXPECT_EQ(Host.Tunnel.Conns(), std::vector<std::string>{"10.1.2.3:8080"});
  EXPECT_TRUE(Host.Tunnel.Resolves().empty());  // a dotted address is not resolved
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine, "GET /agent/info?x=1 HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Cookie"), "");
  EXPECT_EQ(Reports(), (std::vector<std::string>{"status 5 0 Downloading",
                                                 "status 5 50 Downloading", "status 5 100 "}));
}

TEST_F(FileExchangeTest, WithoutStatusNothingIsReportedAndEmptyBodiesSucceed) {
  Server.Script({THttpTestServer::Reply(200, "")});
  std::string got, failure;
  ASSERT_TRUE(Files.GetFile("http://10.1.2.3/", got, TCS_STATUS_NONE, "", failure));
  EXPECT_EQ(got, "");
  EXPECT_EQ(Host.Tunnel.Conns(), std::vector<std::string>{"10.1.2.3:80"});
  EXPECT_TRUE(Reports().empty());

  // Without a length only the opening and closing reports are made.
  Server.Script({"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nno length"});
  ASSERT_TRUE(Files.GetFile("http://10.1.2.3/", got, 4, "t", failure));
  EXPECT_EQ(got, "no length");
  EXPECT_EQ(Reports(), (std::vector<std::string>{"status 4 0 t", "status 4 100 "}));
}

TEST_F(FileExchangeTest, NamesAreResolvedThroughTheTunnel) {
  std::string got, failure;
  Host.Tunnel.Resolved = 0;
  EXPECT_FALSE(Files.GetFile("http://inside.example/a", got, -1, "", failure));
  Host.Tunnel.Resolved = 0xFFFFFFFFu;
  EXPECT_FALSE(Files.GetFile("http://inside.example/a", got, -1, "", failure));
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(Host.Tunnel.Conns().empty());

  Host.Tunnel.Resolved = inet_addr("10.9.8.7");
  Server.Script({THttpTestServer::Reply(200, "ok")});
  EXPECT_TRUE(Files.GetFile("http://inside.example:81/a", got, -1, "", failure));
  EXPECT_EQ(got, "ok");
  EXPECT_EQ(Host.Tunnel.Resolves().size(), 3u);
  EXPECT_EQ(Host.Tunnel.Conns(), std::vector<std::string>{"10.9.8.7:81"});
}

TEST_F(FileExchangeTest, FailuresGiveFalseWithTheirTexts) {
  std::string got, failure;
  Host.Tunnel.RefuseConns = true;
  EXPECT_FALSE(Files.GetFile("http://10.1.1.1/x", got, -1, "", failure));
  EXPECT_EQ(failure, "");  // a refused listener has no text

  Host.Tunnel.RefuseConns = false;
  Host.HasTunnel = false;
  EXPECT_FALSE(Files.GetFile("http://10.1.1.1/x", got, -1, "", failure));

  // A listener that leads nowhere: the request cannot be opened.
  Host.HasTunnel = true;
  {
    THttpTestServer gone;
    Host.Tunnel.TargetPort = gone.Port();
  }
  EXPECT_FALSE(Files.GetFile("http://10.1.1.1/x", got, -1, "", failure));
  EXPECT_EQ(failure, "Open Handle 3-7");
  EXPECT_FALSE(Files.GetFile("http://10.1.1.1/x", got, -1, "", failure, "10.2.2.2:3128"));
  EXPECT_EQ(failure, "Request 3-7");
  Host.SPPort = Host.Tunnel.TargetPort;
  EXPECT_FALSE(Files.GetFile("local://f.xml", got, -1, "", failure));
  EXPECT_EQ(failure, "Open URL 1-7");
  EXPECT_EQ(got, "");
}

TEST_F(FileExchangeTest, RedirectsAreNotFollowedAndStatusIsNotJudged) {
  Server.Script({THttpTestServer::Reply(302, "moved", "Location: http://10.1.2.3/elsewhere\r\n"),
                 THttpTestServer::Reply(200, "followed")});
  std::string got, failure;
  EXPECT_TRUE(Files.GetFile("http://10.1.2.3/a", got, -1, "", failure));
  EXPECT_EQ(got, "moved");
  EXPECT_EQ(Server.Requests().size(), 1u);
}

TEST_F(FileExchangeTest, ProxiedFetchAsksTheListenerForTheFullURL) {
  Host.Tunnel.Resolved = inet_addr("10.3.3.3");
  Server.Script({THttpTestServer::Reply(200, "via proxy")});
  std::string got, failure;
  ASSERT_TRUE(Files.GetFile("http://packages.example/rdp/msrdp.cab", got, 5, "", failure,
                            "proxy.example:3128"));
  EXPECT_EQ(got, "via proxy");
  EXPECT_EQ(Host.Tunnel.Resolves(), std::vector<std::string>{"proxy.example"});
  EXPECT_EQ(Host.Tunnel.Conns(), std::vector<std::string>{"10.3.3.3:3128"});
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine, "GET http://packages.example/rdp/msrdp.cab HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Host"), "packages.example");
}

TEST_F(FileExchangeTest, StreamsLargeBodiesAndFailsWhenTheStreamCannotTakeThem) {
  std::string body;
  for (int i = 0; body.size() < 60 * kFileBlockSize; ++i) body += std::to_string(i) + ",";
  Server.Script({THttpTestServer::Reply(200, body)});
  std::ostringstream out;
  std::string failure;
  ASSERT_TRUE(Files.GetFile("http://10.1.2.3/big", out, 5, "s", failure));
  EXPECT_EQ(out.str(), body);
  auto reports = Reports();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[1], "status 5 1 s");  // block 0
  EXPECT_EQ(reports[3], "status 5 100 ");

  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_FALSE(Files.GetFile("http://10.1.2.3/big", broken, -1, "", failure));
  EXPECT_EQ(failure, "GetFile - Unknown exception");
}

TEST_F(FileExchangeTest, RepliesOverTheSizeLimitFailWhileTheyAreRead) {
  TTransferLimits limits;
  limits.MaxBodyBytes = 100000;
  Files.SetLimits(limits);
  const std::string over(limits.MaxBodyBytes + 1, 'x');
  struct {
    std::string Reply;
    const char* What;
  } cases[] = {
      {THttpTestServer::Reply(200, over), "announced length over the limit"},
      // A huge length with no body behind it is refused up front, not waited for.
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", "huge length"},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + over, "no length, body over the limit"},
      {"HTTP/1.1 200 OK\r\nX: " + std::string(kMaxReplyHeaderBytes, 'h') + "\r\n\r\n",
       "headers over their limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Server.Script({c.Reply});
    std::string got, failure, posted;
    EXPECT_FALSE(Files.GetFile("http://10.1.2.3/big", got, -1, "", failure));
    EXPECT_EQ(failure, kReplyTooLarge);
    EXPECT_LE(got.size(), limits.MaxBodyBytes);
    EXPECT_FALSE(Files.PostFile("http://10.1.2.3:80/big", "q", posted));
    EXPECT_LE(posted.size(), limits.MaxBodyBytes);
  }
  // Exactly the limit is taken whole.
  Server.Script({THttpTestServer::Reply(200, over.substr(1))});
  std::string got, failure;
  EXPECT_TRUE(Files.GetFile("http://10.1.2.3/big", got, -1, "", failure));
  EXPECT_EQ(got.size(), limits.MaxBodyBytes);
}

TEST_F(FileExchangeTest, StopEndsAFetchTheServerNeverAnswers) {
  Server.Script({THttpTestServer::kSilent});
  std::thread stopper([&] {
    Server.WaitForRequests(1);
    Host.Stop.Set();
  });
  std::string got, failure;
  EXPECT_FALSE(Files.GetFile("http://10.1.2.3/hang", got, -1, "", failure));
  stopper.join();
  EXPECT_EQ(failure, "Open Handle 3-42");
  // Once the owner is going no new transfer starts.
  EXPECT_FALSE(Files.GetFile("http://10.1.2.3/x", got, -1, "", failure));
  EXPECT_EQ(Server.Requests().size(), 1u);
}

TEST_F(FileExchangeTest, ARequestEndsAtItsDeadlineHoweverSlowlyTheServerSends) {
  TTransferLimits limits;
  limits.RequestMs = 1000;
  Files.SetLimits(limits);
  Server.Script({THttpTestServer::kDrip + THttpTestServer::Reply(200, std::string(100, 'x'))});
  const auto start = std::chrono::steady_clock::now();
  std::string got, failure, posted;
  EXPECT_FALSE(Files.GetFile("http://10.1.2.3:9091/agent/info", got, -1, "", failure));
  EXPECT_EQ(failure, "Open Handle 3-28");  // timed out
  EXPECT_FALSE(Files.PostFile("http://10.1.2.3:80/query/iconcache", "q", posted));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(FileExchangeGateway, GatewayFilesGoOverTlsWithTheCookie) {
  // Gateway files honour the environment's proxy; this test talks to its server directly.
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  THttpTestServer tls(true);
  TFileExchangeHostDouble host;
  TFileExchange files(host);
  host.SPPort = tls.Port();
  tls.Script({THttpTestServer::Reply(200, "<gw/>")});
  std::string got, failure;
  ASSERT_TRUE(files.GetFile("LOCAL://dir/file.xml", got, -1, "", failure)) << failure;
  EXPECT_EQ(got, "<gw/>");
  ASSERT_TRUE(files.GetFile("local://x/client_sec/l3vpn/c.cab", got, -1, "", failure));
  host.PlatformType = 1;
  ASSERT_TRUE(files.GetFile("local://f", got, -1, "", failure));
  auto requests = tls.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].RequestLine,
            "GET /prx/000/http/localhost/tcs/global/MOD7/dir/file.xml HTTP/1.1");
  EXPECT_EQ(requests[1].RequestLine,
            "GET /prx/000/http/localhost/x/client_sec/l3vpn/c.cab HTTP/1.1");
  EXPECT_EQ(requests[2].RequestLine, "GET /prx/000/http/localhost/vantrel_clients/1/f HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Cookie"), "ZQsession=abc123");
  EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(tls.Port()));
  EXPECT_TRUE(host.Tunnel.Conns().empty());  // gateway files never use the tunnel
}

TEST(FileExchangeGateway, GatewayFilesGoOnlyToTheKeyTheTunnelAccepted) {
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  // The run's pin is the test server's key; here only the tunnel's decision counts.
  const std::string serverKey = std::getenv("VANTREL_GATEWAY_PIN");
  const std::string otherKey =
      (serverKey.compare(0, 2, "00") == 0 ? "11" : "00") + serverKey.substr(2);
  const struct {
    const char* Name;
    std::string TunnelKey;
    bool Fetched;
  } cases[] = {{"accepted key", serverKey, true},
               {"another key", otherKey, false},
               {"none: the self-signed chain is verified and fails", "", false}};
  unsetenv("VANTREL_GATEWAY_PIN");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    THttpTestServer tls(true);
    TFileExchangeHostDouble host;
    TFileExchange files(host);
    host.SPPort = tls.Port();
    host.Tunnel.GatewayKey = c.TunnelKey;
    tls.Script({THttpTestServer::Reply(200, "<gw/>")});
    std::string got, failure;
    EXPECT_EQ(files.GetFile("local://f.xml", got, -1, "", failure), c.Fetched) << failure;
    // A refused gateway never sees the request and its cookie.
    EXPECT_EQ(tls.Requests().size(), c.Fetched ? 1u : 0u);
  }
  setenv("VANTREL_GATEWAY_PIN", serverKey.c_str(), 1);
}

TEST_F(FileExchangeTest, PostSendsItsHeadersInOrder) {
  Server.Script({THttpTestServer::Reply(200, "<ok/>")});
  std::string res;
  ASSERT_TRUE(Files.PostFile("http://10.4.4.4:9090/query/xml", "<req>\xC3\xA9</req>", res));
  EXPECT_EQ(res, "<ok/>");
  EXPECT_EQ(Host.Tunnel.Conns(), std::vector<std::string>{"10.4.4.4:9090"});
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const TRecordedRequest& r = requests[0];
  EXPECT_EQ(r.RequestLine, "POST /query/xml HTTP/1.1");
  std::vector<std::string> ours;
  for (const std::string& h : r.Headers)
    if (h.rfind("Content-Length", 0) != 0) ours.push_back(h);
  // The HTTP layer writes Host right after the request line; the others keep their order.
  EXPECT_EQ(ours,
            (std::vector<std::string>{"Host: 10.4.4.4:9090", "User-Agent: KelvorTCS/1.0",
                                      "Connection: close", "Content-Type: text/xml",
                                      "Accept: text/html, */*", "Accept-Encoding: identity"}));
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.Body.size()));
  EXPECT_EQ(r.Body.substr(0, 5), "<req>");
}

TEST_F(FileExchangeTest, PostJudgesTheStatusAndDecodesOwnChunks) {
  TLogCapture log;
  std::string res;
  Server.Script({THttpTestServer::Reply(204, ""), THttpTestServer::Reply(302, "x")});
  EXPECT_FALSE(Files.PostFile("http://10.4.4.4/a", "b", res));
  EXPECT_FALSE(Files.PostFile2("http://10.4.4.4/a", "b", 1, res));
  EXPECT_TRUE(log.HasLine("PostFile - Got a non 200 response (204)"));
  EXPECT_TRUE(log.HasLine("PostFile2 - Got a non 200 response (302)"));

  Server.Script(
      {"HTTP/1.1 200 OK\r\nTransfer-Coding: CHUNKED\r\nConnection: close\r\n\r\n"
       "4\r\n<ok \r\n2\r\n/>\r\n0\r\n\r\n"});
  const uint8_t bytes[] = {0, 1, 2, 0xFF};
  EXPECT_TRUE(Files.PostFile2("http://10.4.4.4/a", bytes, sizeof(bytes), res));
  EXPECT_EQ(res, "<ok />");
  EXPECT_EQ(Server.Requests().back().Body, std::string("\0\1\2\xFF", 4));

  // Real chunked transfer encoding is undone by the HTTP layer, not decoded twice.
  res.clear();
  Server.Script(
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Coding: chunked\r\n"
       "Connection: close\r\n\r\n3\r\nabc\r\n0\r\n\r\n"});
  EXPECT_TRUE(Files.PostFile("http://10.4.4.4/a", "b", res));
  EXPECT_EQ(res, "abc");

  // A cut or garbled own-chunked body is a failure, never a shorter success.
  for (const char* body : {"4\r\n<ok \r\n9\r\nabc", "4\r\n<ok \r\nZZ\r\n"}) {
    res.clear();
    Server.Script({std::string("HTTP/1.1 200 OK\r\nTransfer-Coding: chunked\r\nConnection: "
                               "close\r\n\r\n") +
                   body});
    EXPECT_FALSE(Files.PostFile("http://10.4.4.4/a", "b", res)) << body;
  }
}

TEST_F(FileExchangeTest, PostWithoutListenerOrServerFails) {
  TLogCapture log;
  std::string res;
  Host.Tunnel.RefuseConns = true;
  EXPECT_FALSE(Files.PostFile("http://10.4.4.4/a", "b", res));
  Host.Tunnel.RefuseConns = false;
  {
    THttpTestServer gone;
    Host.Tunnel.TargetPort = gone.Port();
  }
  EXPECT_FALSE(Files.PostFile("http://10.4.4.4/a", "b", res));
  EXPECT_EQ(res, "");
  EXPECT_TRUE(log.HasLine("PostFile - Failed to connect (7)."));
}

TEST_F(FileExchangeTest, UserProfileRoundTrip) {
  Host.Store.SetOstraInstance("inst 1");
  Host.Tunnel.UserName = "anna&co";
  Server.Script({THttpTestServer::Reply(200, "color%3Dblue%3Bsize%3D12")});
  std::string out = "x";
  Files.LoadUserProfile(out);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Files.GetUserProfile(), (std::vector<std::string>{"color=blue", "size=12"}));
  EXPECT_EQ(Reports().front(), "status 11 0 ");

  // A reply that does not decode leaves the list as it was.
  Server.Script({THttpTestServer::Reply(200, "bad%zz")});
  Files.LoadUserProfile(out);
  EXPECT_EQ(Files.GetUserProfileText(), "color=blue;size=12");

  Server.Script({THttpTestServer::Reply(200, "ignored")});
  Files.SaveUserProfile();
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].RequestLine,
            "GET /query/userprofile?_instid=inst+1&_uname=anna%26co HTTP/1.1");
  EXPECT_EQ(requests[2].RequestLine,
            "GET /object/userprofile?_instid=inst+1&_uname=anna%26co&_userprofile="
            "color%3dblue%3bsize%3d12 HTTP/1.1");
  EXPECT_EQ(Host.Tunnel.Conns().back(), "10.0.0.5:9090");

  // Without an availability server nothing is sent.
  Host.Store.SetOstraServer("");
  Files.SaveUserProfile();
  EXPECT_EQ(Server.Requests().size(), 3u);
}

}  // namespace
}  // namespace vantrel::test
