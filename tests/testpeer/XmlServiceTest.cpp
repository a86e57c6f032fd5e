// The reference XML service's answers that the client tests cannot tell apart from a client
// fault: what it refuses and why, and which ICA servers a gateway must relay for it.
#include <gtest/gtest.h>

#include "diag/Xml.h"
#include "testpeer/XmlService.h"

namespace vantrel::testpeer {
namespace {

std::string Ask(const std::string& prmKind, const std::string& prmInner) {
  return "<?xml version=\"1.0\"?><NFuseProtocol version=\"5.1\"><" + prmKind + ">" + prmInner +
         "</" + prmKind + "></NFuseProtocol>";
}

std::string Creds(const std::string& prmUser, const std::string& prmPassword) {
  return "<Credentials><UserName>" + prmUser + "</UserName><Password>" + prmPassword +
         "</Password><Domain>demo</Domain></Credentials>";
}

TEST(XmlService, AnswersAndRefusals) {
  TXmlService service;
  service.User = "anna";
  service.Password = "pw";
  service.Domain = "DEMO";
  service.Apps = {{"Calc", "", 8, false, "10.0.1.20", "2598", true, "T1"}};
  service.Desktops["xd1"] = {"10.0.1.21:1495", "DT"};
  const struct {
    const char* Name;
    std::string Request;
    const char* Element;  // the reply element to read
    const char* Text;     // its text
    bool Logged;          // the peer notes a malformed request
  } cases[] = {
      {"capabilities without credentials", Ask("RequestCapabilities", ""), "CapabilityId",
       "multi-image-icons", false},
      {"not XML", "<<<", "ErrorId", "bad-request", true},
      {"unknown request", Ask("RequestWeather", Creds("anna", "pw")), "ErrorId", "bad-request",
       true},
      {"wrong password", Ask("RequestAppData", Creds("anna", "no")), "ErrorId",
       "failed-credentials", false},
      {"ticket", Ask("RequestTicket", Creds("anna", "pw")), "Ticket", "TICKET-1", false},
      {"unknown application", Ask("RequestAddress", Creds("anna", "pw") + "<AppName>X</AppName>"),
       "ErrorId", "no-server", false},
      {"application's CGP port",
       Ask("RequestAddress", Creds("anna", "pw") + "<AppName>Calc</AppName>"), "CGPAddress", "2598",
       false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> errors;
    TXmlDoc reply = TXmlDoc::Parse(XmlServiceReply(service, c.Request, errors));
    EXPECT_EQ(reply.Root().FindFirst(c.Element).Text(), c.Text) << c.Name;
    EXPECT_EQ(!errors.empty(), c.Logged) << c.Name;
  }
  EXPECT_EQ(IcaServers(service), (std::vector<std::string>{"10.0.1.20:1494", "10.0.1.21:1495"}));
}

}  // namespace
}  // namespace vantrel::testpeer
