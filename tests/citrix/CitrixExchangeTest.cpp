#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/AppCatalogue.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/CitrixUtil.h"
#include "citrix/XmlCitrixService.h"
#include "session/FileExchangeDoubles.h"
#include "session/FileExchangeTestServer.h"
#include "support/LogCapture.h"

namespace vantrel::test {
namespace {

std::string Xml(const std::string& prmInner) {
  return "<?xml version=\"1.0\"?><NFuseProtocol version=\"4.6\">" + prmInner + "</NFuseProtocol>";
}

std::string Ok(const std::string& prmInner) {
  return THttpTestServer::Reply(200, Xml(prmInner), "Content-Type: text/xml\r\n");
}

class CitrixExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    Tunnel.TargetPort = Server.Port();
    Link.Tunnel = &Tunnel;
    Link.Cancel = [this] { return Cancelled.load(); };
  }

  THttpTestServer Server;
  TListenerTunnel Tunnel;
  TCitrixLink Link;
  std::atomic<bool> Cancelled{false};
  const TCitrixCreds Creds{"anna", "secret", "CORP"};
};

TEST_F(CitrixExchange, RequestGoesThroughAListenerWithTheServicesHeaders) {
  TLogCapture log;
  Server.Script({Ok("<ResponseAppData/>")});
  EXPECT_EQ(CitrixAuthUser("10.0.0.5", Link, Creds), kCitrixOK);
  EXPECT_EQ(Tunnel.Conns(), std::vector<std::string>{"10.0.0.5:80"});
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine, "POST /scripts/wpnbr.dll HTTP/1.1");
  std::vector<std::string> ours;
  for (const std::string& line : requests[0].Headers)
    for (const char* name :
         {"Connection", "Content-Type", "Accept", "Accept-Encoding", "Host", "User-Agent"})
      if (line.rfind(std::string(name) + ":", 0) == 0) ours.push_back(line);
  EXPECT_EQ(ours,
            (std::vector<std::string>{"Host: 10.0.0.5:80", "User-Agent: KelvorTCS/1.0",
                                      "Connection: close", "Content-Type: text/xml",
                                      "Accept: text/html, */*", "Accept-Encoding: identity"}));
  EXPECT_EQ(requests[0].Body, BuildAppDataRequest("defaults", Creds).SaveToString(false));
  for (const char* line : {"CitrixAuthUser - Begin", "GetCitrixResp - Connecting to 10.0.0.5:80",
                           "GetCitrixResp - Result is 200", "CitrixAuthResponse - Done"})
    EXPECT_TRUE(log.HasLine(line)) << line;
  EXPECT_FALSE(log.Contains("secret"));
}

TEST_F(CitrixExchange, ServersAreResolvedThroughTheTunnelAndRefusalsCoded) {
  Tunnel.Resolved = inet_addr("10.9.8.7");
  Server.Script({Ok("<ResponseAppData><ErrorId>ACCOUNT-DISABLED</ErrorId></ResponseAppData>")});
  EXPECT_EQ(CitrixAuthUser("xaserver:8080", Link, Creds), 8);
  EXPECT_EQ(CitrixAuthUser("10.0.0.5:abc", Link, Creds), 8);
  EXPECT_EQ(Tunnel.Conns(), (std::vector<std::string>{"10.9.8.7:8080", "10.0.0.5:80"}));
  EXPECT_EQ(Tunnel.Resolves(), std::vector<std::string>{"xaserver"});

  Tunnel.Resolved = 0;
  std::string ticket;
  TCitrixAddress address;
  EXPECT_EQ(CitrixAuthUser("nowhere", Link, Creds), kCitrixNoServer);
  EXPECT_EQ(GetLogonTicket(Link, "nowhere", Creds, "A:B", ticket), kCitrixNoServer);
  EXPECT_EQ(GetAppAddress(Link, "nowhere", "Word", Creds, address), kCitrixNoReply);
  EXPECT_EQ(CitrixAuthUser("10.0.0.5:70000", Link, Creds), kCitrixNoServer);
  EXPECT_EQ(Tunnel.Conns().size(), 2u);
}

TEST_F(CitrixExchange, RepliesThatAreNotUsableGiveCodeOne) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Coding: CHUNKED\r\n\r\n";
  const std::string body = Xml("<ResponseTicket><Ticket>T1</Ticket></ResponseTicket>");
  char size[16];
  snprintf(size, sizeof(size), "%zx", body.size() - 10);
  const std::string goodChunks = chunked + size + "\r\n" + body.substr(0, body.size() - 10) +
                                 "\r\na\r\n" + body.substr(body.size() - 10) + "\r\n0\r\n\r\n";
  std::string ticket;
  Server.Script({goodChunks});
  EXPECT_EQ(GetLogonTicket(Link, "10.0.0.5", Creds, "A:B", ticket), kCitrixOK);
  EXPECT_EQ(ticket, "T1");
  EXPECT_NE(Server.Requests()[0].Body.find("<TicketTag>A:B</TicketTag>"), std::string::npos);

  Link.Limits.MaxBodyBytes = 4096;
  const std::string unusable[] = {
      chunked + "zz\r\n" + body,                            // size text not hexadecimal
      chunked + "100000\r\n" + body,                        // chunk over the bound
      THttpTestServer::Reply(500, body),                    // another status
      THttpTestServer::Reply(200, "<unclosed"),             // not XML
      THttpTestServer::Reply(200, std::string(5000, ' ')),  // over the bound
  };
  for (const std::string& reply : unusable) {
    Server.Script({reply});
    EXPECT_EQ(GetLogonTicket(Link, "10.0.0.5", Creds, "A:B", ticket), kCitrixNoReply) << reply;
    EXPECT_EQ(ticket, "");
  }
  Tunnel.RefuseConns = true;
  EXPECT_EQ(GetLogonTicket(Link, "10.0.0.5", Creds, "A:B", ticket), kCitrixNoReply);
  Link.Tunnel = nullptr;
  EXPECT_EQ(CitrixAuthUser("10.0.0.5", Link, Creds), kCitrixNoReply);
}

TEST_F(CitrixExchange, AServiceThatNeverAnswersIsBoundedAndCancellable) {
  Server.Script({THttpTestServer::kSilent});
  TCitrixAddress address;
  Link.Limits.RequestMs = 1000;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetAppAddress(Link, "10.0.0.5", "Word", Creds, address), kCitrixNoReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  Link.Limits.RequestMs = 600000;
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Cancelled = true;
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetAppAddress(Link, "10.0.0.5", "Word", Creds, address), kCitrixNoReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  canceller.join();
}

// What the launches get from the service: the address split as they use it, and a desktop reply
// whose elements are absent told from empty ones.
TEST_F(CitrixExchange, TheLaunchesServiceAnswersFromTheExchange) {
  TXmlCitrixService service(Link.Limits, Link.Cancel);
  Server.Script(
      {Ok("<ResponseAddress><ServerAddress>10.1.1.1</ServerAddress><CGPAddress addresstype="
          "\"port\">2598</CGPAddress><TicketTag>IMAHostId:42</TicketTag></ResponseAddress>"),
       Ok("<ResponseAddress><ServerAddress>10.1.1.2:1500</ServerAddress></ResponseAddress>"),
       Ok("<ResponseAddress><ErrorId>no-available-workstation</ErrorId></ResponseAddress>")});
  std::string server, cgp, tag1, tag2;
  EXPECT_EQ(service.GetAppAddress(&Tunnel, "10.0.0.5", "Word", "CORP", "secret", "anna", server,
                                  cgp, tag1, tag2),
            kCitrixOK);
  EXPECT_EQ(std::vector<std::string>({server, cgp, tag1, tag2}),
            (std::vector<std::string>{"10.1.1.1:1494", "*:2598", "IMAHostId", "42"}));
  TDesktopAddress desktop;
  EXPECT_EQ(service.RequestDesktopAddress(&Tunnel, "10.0.0.6", "Desk1", "anna", "secret", "CORP",
                                          desktop),
            kCitrixOK);
  EXPECT_EQ(desktop.ServerAddress, std::optional<std::string>("10.1.1.2:1500"));
  EXPECT_FALSE(desktop.TicketTag.has_value());
  TDesktopAddress refused;
  EXPECT_NE(service.RequestDesktopAddress(&Tunnel, "10.0.0.6", "Desk1", "anna", "secret", "CORP",
                                          refused),
            kCitrixOK);
  EXPECT_FALSE(refused.ServerAddress.has_value());
}

TEST_F(CitrixExchange, FarmApplicationsAndTheirIcons) {
  TXmlDoc farmDoc = TXmlDoc::Parse("<Farm Folder=\"Apps\">2</Farm>");
  TXenAppFarm farm(farmDoc.Root());
  TAppCatalogue catalogue;
  const std::string apps =
      "<ResponseAppData><AppData><InName>w</InName><FName>Word</FName><SeqNo>Word</SeqNo>"
      "<WinColor>8</WinColor><WinType>fullscreen</WinType><Icon>" +
      std::string(1280, 'A') + "</Icon></AppData></ResponseAppData>";
  Tunnel.Resolved = inet_addr("10.9.8.7");
  Server.Script({Ok("<ResponseCapabilities><CapabilityId>multi-image-icons</CapabilityId>"
                    "</ResponseCapabilities>"),
                 Ok(apps)});
  EXPECT_EQ(GetAllApps(farm, "xa:81", catalogue, farm.GetFolder(), Link, Creds), kCitrixOK);
  std::string host;
  int port = 0;
  GetCurrentService(host, port);
  EXPECT_EQ(host + ":" + std::to_string(port), "10.9.8.7:81");
  auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Body, BuildCapabilitiesRequest().SaveToString(false));
  EXPECT_EQ(requests[1].Body, BuildAppDataRequest("defaults", Creds).SaveToString(false));
  TXenApp* word = dynamic_cast<TXenApp*>(catalogue.FindApp("c2Word"));
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(word->m_Server, "xa:81");
  EXPECT_EQ(word->m_Icon, "");  // multi-size icons come with the icon request

  Server.Script({Ok("<ResponseAppData><AppData><SeqNo>WORD</SeqNo><Icon>" + std::string(1280, 'B') +
                    "</Icon></AppData></ResponseAppData>")});
  EXPECT_EQ(GetAllAppIcons(farm, Link, Creds), kCitrixOK);
  EXPECT_EQ(Server.Requests().back().Body, BuildAppIconsRequest(Creds).SaveToString(false));
  EXPECT_EQ(word->m_Icon.substr(1, 3), "PNG");
  EXPECT_EQ(Tunnel.Conns().back(), "10.9.8.7:81");

  // Without multi-size icons (or without an answer to the question) the list brings them.
  std::string calc = apps;
  calc.replace(calc.find("<SeqNo>Word"), 11, "<SeqNo>Calc");
  Server.Script({Ok("<ResponseCapabilities><ErrorId>unspecified</ErrorId></ResponseCapabilities>"),
                 Ok(calc)});
  EXPECT_EQ(GetAllApps(farm, "10.0.0.6", catalogue, farm.GetFolder(), Link, Creds), kCitrixOK);
  EXPECT_EQ(Server.Requests().back().Body, BuildAppDataRequest("all", Creds).SaveToString(false));
  ASSERT_NE(catalogue.FindApp("c2Calc"), nullptr);
  EXPECT_EQ(dynamic_cast<TXenApp*>(catalogue.FindApp("c2Calc"))->m_Icon.substr(1, 3), "PNG");
  EXPECT_EQ(farm.GetApps().size(), 2u);
}

}  // namespace
}  // namespace vantrel::test
