// The demo wiring: a client inside the tunnel reaches the availability server at the address
// its store names, through the reference gateway.
#include <gtest/gtest.h>

#include <mutex>

#include "RawTlsClient.h"
#include "diag/Xml.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"

namespace vantrel::testpeer::test {
namespace {

const char kTunnelRequest[] =
    "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: gw\r\nCookie: c\r\nappid: "
    "Vantrel\r\nclientid: d\r\n\r\n";

// The next gateway message as header and payload; an empty header when the tunnel ended.
std::pair<TBytes, TBytes> ReadMessage(TRawTlsClient& prmClient) {
  auto h = prmClient.Read(16);
  if (!h) return {};
  uint32_t len = (*h)[0] == 23 ? 0 : BE32(h->data() + 12);
  auto p = len ? prmClient.Read(len) : std::optional<TBytes>(TBytes{});
  return {*h, p ? *p : TBytes{}};
}

TEST(AvailabilityDemo, GatewayRelaysTheStoreAddressToTheServer) {
  TAvailScenario sc;
  sc.Instance = "through-the-tunnel";
  TAvailabilityServer avail(sc);
  std::mutex lock;
  std::vector<std::string> announced;
  avail.SetRequestCallback([&](const TAvailRequest& r) {
    std::lock_guard<std::mutex> g(lock);
    announced.push_back(r.Method + " " + r.Target);
  });
  avail.Start();
  TGatewayScenario base;
  base.Protocol = TProtocol::Legacy;
  base.Hosts["localhost"] = "127.0.0.2";
  TGatewayScenario gw = DemoGatewayScenario(base, avail.HostPort());
  EXPECT_EQ(gw.Protocol, TProtocol::First);
  EXPECT_EQ(gw.Hosts.at("localhost"), "127.0.0.2") << "a name the base resolves is kept";
  EXPECT_EQ(DemoGatewayScenario({}, avail.HostPort()).Hosts.at("localhost"), "127.0.0.1");

  TGatewayPeer gateway(gw);
  TRawTlsClient client;
  ASSERT_TRUE(client.Connect(gateway.Start()));
  ASSERT_TRUE(client.Send(std::string(kTunnelRequest)));
  ASSERT_TRUE(client.Read(std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n").size()));
  ASSERT_TRUE(client.Send(ClientHeader(15)));
  ASSERT_EQ(ReadMessage(client).first[0], 1);  // tunnel up

  ASSERT_TRUE(client.Send(ClientHeader(9, "127.0.0.1", 9090, 4)));
  ASSERT_EQ(ReadMessage(client).first[0], 5);
  std::string get = "GET /query/info?_devtype=1 HTTP/1.1\r\nConnection: close\r\n\r\n";
  ASSERT_TRUE(
      client.Send(Concat({ClientHeader(6, "127.0.0.1", 9090, 4, static_cast<uint32_t>(get.size())),
                          TBytes(get.begin(), get.end())})));
  std::string reply;
  for (;;) {
    auto [h, p] = ReadMessage(client);
    ASSERT_FALSE(h.empty()) << "the tunnel ended before the reply did";
    if (h[0] == 7) break;
    ASSERT_EQ(h[0], 6);
    reply.append(p.begin(), p.end());
  }
  size_t body = reply.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK");
  TXmlDoc doc = TXmlDoc::Parse(reply.substr(body + 4));
  EXPECT_EQ(doc.Root().FindFirst("Instance").Text(), "through-the-tunnel");
  auto seen = avail.WaitForRequest("/query/info", kWait);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->Param("_devtype"), "1");
  {
    // The callback runs before the answer is sent, so it has run by now.
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(announced, (std::vector<std::string>{"GET /query/info?_devtype=1"}));
  }
  EXPECT_TRUE(gateway.Errors().empty());
}

TEST(AvailabilityDemo, PrintedTargetsHideCredentials) {
  THttpRequest r;
  r.Path = "/query/hosts";
  r.Query = {{"_uname", "bob"},
             {"_pid", "s%26cret"},
             {"_vdipwd", "x"},
             {"_userprofile", "E=1"},
             {"_devtype", "1"}};
  EXPECT_EQ(PrintableTarget(r),
            "/query/hosts?_uname=bob&_pid=XXXX&_vdipwd=XXXX&_userprofile=XXXX&_devtype=1");
  r.Query.clear();
  EXPECT_EQ(PrintableTarget(r), "/query/hosts");
}

}  // namespace
}  // namespace vantrel::testpeer::test
