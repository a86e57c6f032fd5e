// The file exchange over a real tunnel: the tunnel manager of the first protocol connected to the
// reference gateway, which relays the listener's connection to the local HTTP server.
#include <gtest/gtest.h>

#include <memory>

#include "session/FileExchange.h"
#include "session/FileExchangeDoubles.h"
#include "session/FileExchangeTestServer.h"
#include "testpeer/GatewayPeer.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel::test {
namespace {

TEST(FileExchangeTunnel, FetchAndPostThroughTheGateway) {
  THttpTestServer server;
  testpeer::TGatewayScenario scenario;
  scenario.Mapping["10.0.0.5:9090"] = "127.0.0.1:" + std::to_string(server.Port());
  scenario.Hosts["ostra.example"] = "10.0.0.5";
  testpeer::TGatewayPeer peer(scenario);
  uint16_t port = peer.Start();
  auto tunnel = std::make_unique<CAppMngMorv>("127.0.0.1", port, "sid=abc", "sess", "mod", "dev");
  tunnel->InitControlConnection();
  ASSERT_TRUE(tunnel->IsReady(20000));

  TFileExchangeHostDouble host;
  host.RealTunnel = tunnel.get();
  TFileExchange files(host);
  std::string body, failure;
  const std::string big(3 * 8192 + 17, 'q');  // many relay messages of the tunnel
  server.Script({THttpTestServer::Reply(200, big), THttpTestServer::Reply(200, "<posted/>")});
  ASSERT_TRUE(files.GetFile("http://ostra.example:9090/query/info", body, 10, "", failure))
      << failure;
  EXPECT_EQ(body, big);
  std::string res;
  ASSERT_TRUE(files.PostFile("http://10.0.0.5:9090/query/xml", "<q/>", res));
  EXPECT_EQ(res, "<posted/>");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].RequestLine, "GET /query/info HTTP/1.1");
  EXPECT_EQ(requests[1].Body, "<q/>");

  // A destination the gateway cannot open reaches the caller as a failed fetch, not a hang.
  EXPECT_FALSE(files.GetFile("http://10.0.0.6:9090/x", body, -1, "", failure));
  tunnel.reset();
  peer.Stop();
}

}  // namespace
}  // namespace vantrel::test
