#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "citrix/ChunkedBody.h"
#include "citrix/XmlReplies.h"
#include "citrix/XmlRequests.h"

namespace vantrel::test {
namespace {

const TCitrixCreds kCreds{"anna", "p<w>&d", "CORP"};
const std::string kCredsXml =
    "<Credentials><UserName>anna</UserName><Password encoding=\"cleartext\">p&lt;w&gt;&amp;d"
    "</Password><Domain>CORP</Domain></Credentials>";
const std::string kScope = "<Scope traverse=\"subtree\" type=\"PNFolder\"/>";

TEST(CitrixRequests, DocumentsAreExactlyTheServicesVocabulary) {
  struct Case {
    TXmlDoc Doc;
    std::string Expected;
  };
  Case cases[] = {
      {BuildCapabilitiesRequest(),
       "<NFuseProtocol version=\"4.6\"><RequestCapabilities/></NFuseProtocol>"},
      {BuildAppDataRequest("defaults", kCreds),
       "<NFuseProtocol version=\"1.2\"><RequestAppData>" + kScope +
           "<DesiredDetails>defaults</DesiredDetails><ServerType>all</ServerType><ClientType>"
           "ica30</ClientType>" +
           kCredsXml + "</RequestAppData></NFuseProtocol>"},
      {BuildAppIconsRequest(kCreds),
       "<NFuseProtocol version=\"4.6\"><RequestAppData>" + kScope +
           "<DesiredDetails>icon</DesiredDetails><DesiredIconData Size=\"32\" bpp=\"32\"/>"
           "<ServerType>all</ServerType><ClientType>ica30</ClientType>" +
           kCredsXml + "</RequestAppData></NFuseProtocol>"},
      {BuildAppAddressRequest("Word", kCreds),
       "<NFuseProtocol version=\"1.2\"><RequestAddress><Name><AppName>Word</AppName></Name>"
       "<ServerAddress addresstype=\"dot-port\"/><Flags/>" +
           kCredsXml + "</RequestAddress></NFuseProtocol>"},
      {BuildDesktopAddressRequest("Desk 1", kCreds),
       "<NFuseProtocol version=\"4.6\"><RequestAddress><Name><AppName>Desk 1</AppName></Name>"
       "<ServerAddress addresstype=\"dns-port\"/>" +
           kCredsXml +
           "<ClientType>ica30</ClientType><DeviceId/></RequestAddress></NFuseProtocol>"},
      {BuildTicketRequest("A1:B2", kCreds),
       "<NFuseProtocol version=\"1.2\"><RequestTicket><Credentials><UserName>anna</UserName>"
       "<Password encoding=\"cleartext\">p&lt;w&gt;&amp;d</Password><Domain type=\"NT\">CORP"
       "</Domain></Credentials><TicketType>CtxLogon</TicketType><TicketTag>A1:B2</TicketTag>"
       "<TimetoLive>200</TimetoLive></RequestTicket></NFuseProtocol>"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Doc.SaveToString(false), c.Expected);
}

TEST(CitrixReplies, ErrorIdsMapToTheirCodesAndUnknownOnesToOne) {
  const std::pair<std::string, int> cases[] = {
      {"failed-credentials", 2},
      {"NO-SERVER", 3},
      {"must-change-credentials", 4},
      {"expired-credentials", 5},
      {"account-locked-out", 6},
      {"invalid-logon-hours", 7},
      {"ACCOUNT-DISABLED", 8},
      {"version-mismatch", 9},
      {"bad-request", 10},
      {"no-alt-address", 11},
      {"parser-error", 12},
      {"unspecified", 13},
      {"ticketing-disabled", 14},
      {"GroupEnumeration-Disabled", 15},
      {"FolderEnumeration-Disabled", 16},
      {"Account-Expired", 1},
      {"", 1},
  };
  for (const auto& [id, code] : cases) {
    TXmlDoc reply = TXmlDoc::Parse("<NFuseProtocol><ResponseAppData><ErrorId>" + id +
                                   "</ErrorId></ResponseAppData></NFuseProtocol>");
    EXPECT_TRUE(HasErrorId(reply)) << id;
    EXPECT_EQ(GetErrorCode(reply), code) << id;
  }
  EXPECT_FALSE(HasErrorId(TXmlDoc::Parse("<NFuseProtocol><AppData/></NFuseProtocol>")));
  EXPECT_FALSE(HasErrorId(TXmlDoc::Parse("not xml")));
}

TEST(CitrixReplies, AddressTicketAndCapabilities) {
  struct Case {
    std::string Body;
    TCitrixAddress Expected;
  };
  const Case cases[] = {
      {"<ServerAddress>10.0.0.9</ServerAddress><TicketTag>A1:B2:C3</TicketTag>",
       {"10.0.0.9:1494", "", false, "", "A1", "B2:C3"}},
      {"<ServerAddress>0.0.0.0:1494</ServerAddress><TicketTag>X</TicketTag>",
       {"", "", false, "", "", "X"}},
      {"<ServerAddress>10.0.0.9:2000</ServerAddress><CGPAddress addresstype=\"port\">2598"
       "</CGPAddress>",
       {"10.0.0.9:2000", "*:2598", false, "", "", ""}},
      {"<CGPAddress addresstype=\"dot-port\">10.1.1.1:2598</CGPAddress>",
       {"", "10.1.1.1:2598", false, "", "", ""}},
  };
  for (const Case& c : cases) {
    TCitrixAddress got = ParseAddressReply(TXmlDoc::Parse(
        "<NFuseProtocol><ResponseAddress>" + c.Body + "</ResponseAddress></NFuseProtocol>"));
    EXPECT_EQ(got.ServerAddress, c.Expected.ServerAddress) << c.Body;
    EXPECT_EQ(got.CGPAddress, c.Expected.CGPAddress) << c.Body;
    EXPECT_EQ(got.TicketTag1, c.Expected.TicketTag1) << c.Body;
    EXPECT_EQ(got.TicketTag2, c.Expected.TicketTag2) << c.Body;
    EXPECT_EQ(got.HasTicketTag, c.Body.find("TicketTag") != std::string::npos) << c.Body;
    EXPECT_EQ(got.TicketTag,
              got.TicketTag1.empty() ? got.TicketTag2 : got.TicketTag1 + ":" + got.TicketTag2);
  }
  EXPECT_EQ(ParseTicketReply(TXmlDoc::Parse("<a><b><Ticket>T0K</Ticket></b></a>")), "T0K");
  EXPECT_EQ(ParseTicketReply(TXmlDoc::Parse("<a/>")), "");
  EXPECT_TRUE(SupportsMultiSizeIcons(TXmlDoc::Parse(
      "<a><CapabilityId>x</CapabilityId><CapabilityId>multi-image-icons</CapabilityId></a>")));
  EXPECT_FALSE(SupportsMultiSizeIcons(
      TXmlDoc::Parse("<a><CapabilityId>Multi-Image-Icons</CapabilityId></a>")));
}

TEST(CitrixChunkedBody, ReadsPieceByPieceAndStopsOnBadInput) {
  struct Case {
    std::string Raw;
    size_t Max;
    TChunkedReader::TState End;
    std::string Body;
  };
  const Case cases[] = {
      {"5\r\nHello\r\nA\r\n, service!\r\n0\r\n\r\n", 100, TChunkedReader::TState::Done,
       "Hello, service!"},
      {"5\r\nHello\r\n0\r\n\r\ntrailing junk", 100, TChunkedReader::TState::Done, "Hello"},
      // Cut inside the second chunk: only the first one counts.
      {"5\r\nHello\r\n8\r\nabc", 100, TChunkedReader::TState::Data, "Hello"},
      {"5\r\nHello\r\nzz\r\nmore", 100, TChunkedReader::TState::Stopped, "Hello"},
      {"5;ext=1\r\nHello\r\n0\r\n\r\n", 100, TChunkedReader::TState::Stopped, ""},
      {"\r\n", 100, TChunkedReader::TState::Stopped, ""},
      // Larger than the bound, or than any size: refused before anything is reserved.
      {"5\r\nHello\r\n6\r\nabcdef\r\n0\r\n\r\n", 10, TChunkedReader::TState::Stopped, "Hello"},
      {"FFFFFFFFFFFFFFFFFFFF\r\n", 16u << 20, TChunkedReader::TState::Stopped, ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.Raw.size(), size_t{1}, size_t{3}}) {
      TChunkedReader reader(c.Max);
      for (size_t at = 0; at < c.Raw.size(); at += piece)
        reader.Feed(std::string_view(c.Raw).substr(at, piece));
      EXPECT_EQ(reader.State(), c.End) << c.Raw << " in pieces of " << piece;
      EXPECT_EQ(reader.Body(), c.Body) << c.Raw << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace vantrel::test
