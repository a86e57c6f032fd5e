// The availability peer over real loopback sockets: replies read with the system's XML module,
// request recording, the power-state walk, stored profiles and icons, and the misbehaviours.
#include <gtest/gtest.h>

#include "AvailabilityRawHttp.h"
#include "catalogue/MaskUnmask.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"
#include "testpeer/AvailabilityServer.h"

namespace vantrel::testpeer {
namespace {

using test::Exchange;
using test::Get;
using test::Post;
using test::TRawHttp;
using test::TRawReply;

constexpr int kWait = 10000;

const char kScenario[] = R"({
  "version": "4.0.3", "instance": "inst-7",
  "settings": {"powermng": "1", "keepalive": 30, "rdpagent": "http://x/agent.cab"},
  "dpps": [{"RDrv": 1, "RClip": 0}, {"RClip": 1}],
  "rdpPort": 3390,
  "hosts": [
    {"address": "10.0.0.5", "ID": "10.0.0.5", "Desc": "Desk one", "State": 1,
     "Provider": "VMView", "desktopID": "d1", "provParams": {"pool": "p1", "zone": "z"},
     "availStates": [2, 2, 3], "availHost": "10.0.0.55", "vdiUser": "vu"},
    {"address": "desk2.example", "ID": "desk2", "State": 3, "sessUser": "anna", "sessPwd": "s3cret"}
  ],
  "apps": [{"id": "notepad", "Name": "Notepad", "Folder": "Office\\Tools", "Height": 600}],
  "farms": [{"id": "2", "FarmName": "Main", "Servers": "xa1,xa2,"}],
  "userProfiles": {"bob": "EXTUNAME=Ym9i;K=v"},
  "appServers": {"notepad": {"server": "10.0.0.7", "port": 3391},
                 "broken": {"error": 3, "info": "no server"}},
  "icons": {"c2Word": "iVBORw0K"}
})";

class AvailabilityServer : public ::testing::Test {
 protected:
  void SetUp() override { m_Port = m_Server.Start(); }

  TRawReply Fetch(const std::string& prmTarget) { return Exchange(m_Port, Get(prmTarget)); }

  // The reply as the client reads it: status 200 and a well-formed "OQN" document.
  TXmlDoc FetchXml(const std::string& prmTarget) {
    TRawReply r = Fetch(prmTarget);
    EXPECT_EQ(r.Status, 200) << prmTarget;
    EXPECT_EQ(r.Header("Content-Type"), "text/xml");
    TXmlDoc doc = TXmlDoc::ParseBytes(r.Body.data(), r.Body.size());
    EXPECT_TRUE(doc.IsValid()) << prmTarget << ": " << doc.GetError();
    return doc;
  }

  // "State" of the "StateSess" element of an availability reply (-99 when absent).
  int AvailState(const std::string& prmQuery) {
    TXmlDoc doc = FetchXml("/query/avail?" + prmQuery);
    return doc.Root().FindFirst("StateSess").AttrInt("State", -99);
  }

  int NewSession(const std::string& prmPath, const std::string& prmObj) {
    TXmlDoc doc = FetchXml(prmPath + "?_instid=inst-7&_objid=" + prmObj + "&_uname=bob");
    return doc.Root().FindFirst("StateSess").AttrInt("ID", -99);
  }

  TAvailabilityServer m_Server{std::string(kScenario)};
  uint16_t m_Port = 0;
};

// A fault for prmPath with the fields prmSet chooses.
template <typename F>
TAvailFault Fault(const std::string& prmPath, F prmSet) {
  TAvailFault f;
  f.Path = prmPath;
  prmSet(f);
  return f;
}

std::vector<std::string> ChildNames(const TXmlNode& prmNode) {
  std::vector<std::string> names;
  for (const TXmlNode& c : prmNode.Children()) names.push_back(c.Name());
  return names;
}

TEST_F(AvailabilityServer, InformationReplyCarriesVersionInstanceAndSettingsInOrder) {
  TXmlDoc doc = FetchXml("/query/info?_devtype=1&_sessid=S%201&_uname=bob");
  EXPECT_EQ(doc.Root().Name(), "OQN");
  EXPECT_EQ(doc.Root().FindFirst("Version").Text(), "4.0.3");
  EXPECT_EQ(doc.Root().FindFirst("Instance").Text(), "inst-7");
  EXPECT_FALSE(doc.Root().FindFirst("vdiauth"));
  TXmlNode settings = doc.Root().FindFirst("Settings");
  EXPECT_EQ(ChildNames(settings), (std::vector<std::string>{"powermng", "keepalive", "rdpagent"}));
  EXPECT_EQ(settings.FindFirst("keepalive").Text(), "30");

  m_Server.UpdateScenario([](TAvailScenario& s) {
    s.Vdiauth.assign(1, '1');
    s.Version.clear();
    s.OmitInstance = true;
    s.OmitSettings = true;
  });
  doc = FetchXml("/query/info?_devtype=1");
  EXPECT_EQ(doc.Root().FindFirst("vdiauth").Text(), "1");
  EXPECT_FALSE(doc.Root().FindFirst("Version"));
  EXPECT_FALSE(doc.Root().FindFirst("Instance"));
  EXPECT_FALSE(doc.Root().FindFirst("Settings"));
}

TEST_F(AvailabilityServer, CatalogueHoldsDesktopsApplicationsFarmsAndFlags) {
  TXmlDoc doc = FetchXml("/query/hosts?_instid=inst-7&_uname=bob");
  TXmlNode root = doc.Root();
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"DPPs", "Hosts", "Apps", "Farms"}));
  auto dpps = root.FindAll("DPP");
  ASSERT_EQ(dpps.size(), 2u);
  EXPECT_EQ(dpps[0].AttrInt("RDrv", -1), 1);
  EXPECT_EQ(dpps[0].AttrInt("RClip", -1), 0);
  EXPECT_EQ(dpps[1].AttrInt("RClip", -1), 1);

  TXmlNode hostsNode = root.FindFirst("Hosts");
  EXPECT_EQ(hostsNode.AttrInt("RDPPort", 0), 3390);
  auto hosts = root.FindAll("Host");
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].Text(), "10.0.0.5");
  EXPECT_EQ(hosts[0].Attr("Desc"), "Desk one");
  EXPECT_EQ(hosts[0].AttrInt("State", -1), 1);
  EXPECT_EQ(hosts[0].Attr("Provider"), "VMView");
  EXPECT_EQ(hosts[0].Attr("desktopID"), "d1");
  EXPECT_FALSE(hosts[0].HasAttr("SessInfo"));
  // Attributes the scenario does not give are left out, so the client's defaults apply.
  EXPECT_FALSE(hosts[1].HasAttr("Desc"));
  EXPECT_FALSE(hosts[1].HasAttr("Days"));

  // The masked credentials unmask to what the scenario named.
  std::string sessInfo = hosts[1].Attr("SessInfo");
  size_t at = sessInfo.find('@');
  ASSERT_NE(at, std::string::npos);
  TBytes user = Base64Decode(sessInfo.substr(0, at));
  TBytes pwd = Base64Decode(sessInfo.substr(at + 1));
  EXPECT_EQ(MaskUnmaskStr(std::string(user.begin(), user.end())), "anna");
  EXPECT_EQ(MaskUnmaskStr(std::string(pwd.begin(), pwd.end())), "s3cret");

  auto provParams = root.FindAll("ProvParams");
  ASSERT_EQ(provParams.size(), 1u);
  EXPECT_EQ(provParams[0].Parent(), hostsNode);
  EXPECT_EQ(provParams[0].Attr("ID"), "10.0.0.5");
  EXPECT_EQ(ChildNames(provParams[0]), (std::vector<std::string>{"pool", "zone"}));
  EXPECT_EQ(provParams[0].FindFirst("pool").Text(), "p1");

  TXmlNode app = root.FindFirst("Apps").FindFirst("App");
  EXPECT_EQ(app.Text(), "notepad");
  EXPECT_EQ(app.Attr("Folder"), "Office\\Tools");
  EXPECT_EQ(app.AttrInt("Height", 0), 600);
  TXmlNode farm = root.FindFirst("Farms").FindFirst("Farm");
  EXPECT_EQ(farm.Text(), "2");
  EXPECT_EQ(farm.Attr("Servers"), "xa1,xa2,");

  // A refused device comes first, with its kind.
  m_Server.UpdateScenario([](TAvailScenario& s) {
    s.ClientVerification = "Failed";
    s.ClientVerificationDeviceID = 2;
    s.DPPs.reset();
    s.RDPPort.reset();
  });
  doc = FetchXml("/query/hosts");
  EXPECT_EQ(ChildNames(doc.Root()),
            (std::vector<std::string>{"ClientVerification", "Hosts", "Apps", "Farms"}));
  EXPECT_EQ(doc.Root().FindFirst("ClientVerification").Text(), "Failed");
  EXPECT_EQ(doc.Root().FindFirst("ClientVerification").AttrInt("DeviceID", 0), 2);
  EXPECT_FALSE(doc.Root().FindFirst("Hosts").HasAttr("RDPPort"));
}

TEST_F(AvailabilityServer, RequestsAreRecordedWithConnectionQueryHeadersAndBody) {
  TRawHttp c;
  ASSERT_TRUE(c.Connect(m_Port));
  ASSERT_TRUE(c.Send(Get("/query/info?_devtype=1&_sessid=abc&_uname=b%C3%B6b", false)));
  auto first = c.ReadReply();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Header("Connection"), "keep-alive");
  // The second request on the same connection, sent in two pieces.
  std::string post = Post("/query/iconcache", "c2Word,c2Excel,", false);
  ASSERT_TRUE(c.Send(post.substr(0, 20)));
  ASSERT_TRUE(c.Send(post.substr(20)));
  ASSERT_TRUE(c.ReadReply());
  EXPECT_EQ(Fetch("/query/info?_devtype=1").Status, 200);

  auto all = m_Server.Requests();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Connection, 1);
  EXPECT_EQ(all[1].Connection, 1);
  EXPECT_EQ(all[2].Connection, 2);
  EXPECT_EQ(all[2].Index, 3);
  EXPECT_EQ(all[0].Method, "GET");
  EXPECT_EQ(all[0].ParamNames(), (std::vector<std::string>{"_devtype", "_sessid", "_uname"}));
  EXPECT_EQ(all[0].RawParam("_uname"), "b%C3%B6b");
  EXPECT_EQ(all[0].Param("_uname"),
            "b\xC3\xB6"
            "b");
  EXPECT_EQ(all[0].Header("Host"), "127.0.0.1:9090");
  EXPECT_EQ(all[1].Method, "POST");
  EXPECT_EQ(all[1].Body, "c2Word,c2Excel,");
  EXPECT_EQ(all[1].Header("content-type"), "text/xml");

  auto second = m_Server.WaitForRequest("/query/info", kWait, 2);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Index, 3);
  EXPECT_EQ(m_Server.Requests("/query/iconcache").size(), 1u);
  EXPECT_FALSE(m_Server.WaitForRequest("/query/info", 1, 3));
  EXPECT_TRUE(m_Server.WaitForRequestCount(3, kWait));
  EXPECT_TRUE(m_Server.Errors().empty());
}

TEST_F(AvailabilityServer, DesktopWalksThroughItsStateSequence) {
  // State query before a connection: a session, then the sequence 2, 2, 3 and 3 for ever.
  int s1 = NewSession("/object/newstatesess", "10.0.0.5");
  EXPECT_GT(s1, 0);
  EXPECT_EQ(AvailState("_instid=inst-7&_sessid=" + std::to_string(s1) + "&_port=3389"), 2);
  int s2 = NewSession("/object/newstatesess", "10.0.0.5");
  EXPECT_NE(s2, s1);
  EXPECT_EQ(AvailState("_sessid=" + std::to_string(s2)), 2);

  // A failed state query does not use up a step of the sequence.
  m_Server.AddFault(Fault("/query/avail", [](TAvailFault& f) {
    f.Count = 1;
    f.Status = 503;
  }));
  EXPECT_EQ(Fetch("/query/avail?_sessid=" + std::to_string(s2)).Status, 503);
  m_Server.ClearFaults();

  TXmlDoc ready = FetchXml("/query/avail?_sessid=" + std::to_string(s2));
  TXmlNode ss = ready.Root().FindFirst("StateSess");
  EXPECT_EQ(ss.AttrInt("State", -1), 3);
  EXPECT_EQ(ss.AttrInt("ID", 0), s2);
  EXPECT_EQ(ss.Attr("Host"), "10.0.0.55");
  EXPECT_EQ(ss.Attr("VDIUser"), "vu");
  EXPECT_FALSE(ss.HasAttr("VDIPwd"));
  EXPECT_EQ(AvailState("_sessid=" + std::to_string(s2)), 3);

  // Power-up then wake-up polls; the poll also names the desktop by _objid.
  ASSERT_TRUE(m_Server.SetAvailStates("10.0.0.5", {2, 2, 4}));
  int p = NewSession("/object/powerup", "10.0.0.5");
  EXPECT_GT(p, s2);
  EXPECT_EQ(m_Server.PowerUps("10.0.0.5"), 1);
  std::string poll = "_instid=inst-7&_sessid=" + std::to_string(p) + "&_objid=10.0.0.5";
  EXPECT_EQ(AvailState(poll), 2);
  EXPECT_EQ(AvailState(poll), 2);
  EXPECT_EQ(AvailState(poll), 4);
  // A head request gets the headers only.
  TRawReply head = Exchange(m_Port,
                            "HEAD /query/avail?_sessid=-1&_objid=desk2 HTTP/1.1\r\n"
                            "Connection: close\r\n\r\n");
  EXPECT_EQ(head.Status, 200);
  EXPECT_NE(head.Header("Content-Length"), "0");
  EXPECT_TRUE(head.Body.empty());
  // Without a known session the desktop is found by _objid, then by _deskid.
  EXPECT_EQ(AvailState("_sessid=-1&_objid=10.0.0.5"), 4);
  EXPECT_EQ(AvailState("_sessid=-1&_deskid=d1"), 4);
  // The other desktop is found by its ID and keeps its own (default) sequence.
  EXPECT_EQ(AvailState("_sessid=-1&_objid=desk2"), 3);
  EXPECT_TRUE(m_Server.Errors().empty());
  EXPECT_FALSE(m_Server.SetAvailStates("10.9.9.9", {3}));
  EXPECT_FALSE(m_Server.SetAvailStates("10.0.0.5", {}));
}

TEST_F(AvailabilityServer, UnknownDesktopsAndPathsAreAnsweredAndNoted) {
  EXPECT_EQ(NewSession("/object/newstatesess", "10.9.9.9"), -99);
  EXPECT_EQ(NewSession("/object/powerup", "10.9.9.9"), -99);
  EXPECT_EQ(AvailState("_sessid=77"), -99);
  TXmlDoc del = FetchXml("/object/del?_objid=nobody");
  EXPECT_TRUE(del.Root().FindFirst("Error"));
  EXPECT_EQ(Fetch("/query/nothing").Status, 404);
  EXPECT_EQ(m_Server.Errors().size(), 5u);
  EXPECT_EQ(m_Server.PowerUps("10.9.9.9"), 0);
}

TEST_F(AvailabilityServer, DeletedDesktopLeavesLaterCatalogues) {
  TXmlDoc del = FetchXml("/object/del?_instid=inst-7&_objid=desk2&_uname=bob");
  EXPECT_EQ(del.Root().FindFirst("Result").Text(), "0");
  EXPECT_EQ(FetchXml("/object/del?_objid=desk2.example").Root().FindFirst("Result").Text(), "0");
  EXPECT_EQ(m_Server.DeletedHosts(), (std::vector<std::string>{"desk2"}));
  TXmlDoc later = FetchXml("/query/hosts");
  auto hosts = later.Root().FindAll("Host");
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(hosts[0].Attr("ID"), "10.0.0.5");
}

TEST_F(AvailabilityServer, ProfilesAreStoredPerUserAndReturnedEncoded) {
  TRawReply r = Fetch("/query/userprofile?_instid=inst-7&_uname=bob");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(FormURLDecode(r.Body), "EXTUNAME=Ym9i;K=v");
  EXPECT_TRUE(Fetch("/query/userprofile?_instid=inst-7&_uname=carl").Body.empty());

  std::string profile = "EXTUNAME=Y2FybA==;EXTPWD=cHc=";
  FetchXml("/object/userprofile?_instid=inst-7&_uname=carl&_userprofile=" + FormURLEncode(profile));
  EXPECT_EQ(m_Server.UserProfiles().at("carl"), profile);
  EXPECT_EQ(FormURLDecode(Fetch("/query/userprofile?_uname=carl").Body), profile);
  // An update without the profile changes nothing and is noted.
  FetchXml("/object/userprofile?_uname=carl");
  EXPECT_EQ(m_Server.UserProfiles().at("carl"), profile);
  EXPECT_EQ(m_Server.Errors().size(), 1u);
}

TEST_F(AvailabilityServer, IconCacheNamesMissingIconsAndStoresUploads) {
  auto check = [&] {
    return Exchange(m_Port, Post("/query/iconcache", "c2Word,c2Excel,c2Paint,")).Body;
  };
  EXPECT_EQ(check(), "c2Excel,c2Paint");
  std::string png("\x89PNG\r\n\x1a\n\0\0binary", 16);
  EXPECT_EQ(Exchange(m_Port, Post("/object/iconcache?_iconid=c2Excel", png)).Status, 200);
  EXPECT_EQ(check(), "c2Paint");
  EXPECT_EQ(m_Server.Icons().at("c2Excel"), png);
  TRawReply icon = Fetch("/query/appicon?_appid=c2Excel");
  EXPECT_EQ(icon.Header("Content-Type"), "image/png");
  EXPECT_EQ(icon.Body, png);
  EXPECT_EQ(Fetch("/query/appicon?_appid=c2Paint").Status, 404);
  EXPECT_EQ(Exchange(m_Port, Post("/object/iconcache", png)).Status, 400);
}

TEST_F(AvailabilityServer, VerificationAndApplicationServerReplies) {
  TXmlDoc policy = FetchXml("/query/clientverification?_instid=inst-7");
  EXPECT_EQ(policy.Root().FindFirst("ClientVerification").Text(), "Disabled");
  TXmlDoc rules = FetchXml("/query/clientverification2?_instid=inst-7&_uname=bob");
  EXPECT_EQ(rules.Root().Name(), "Rules");
  EXPECT_TRUE(rules.Root().Children().empty());

  TXmlDoc server = FetchXml("/query/appserver?_appid=notepad");
  EXPECT_EQ(server.Root().FindFirst("Server").Text(), "10.0.0.7");
  EXPECT_EQ(server.Root().FindFirst("Server").AttrInt("Port", 0), 3391);
  TXmlDoc broken = FetchXml("/query/appserver?_appid=broken");
  EXPECT_EQ(broken.Root().FindFirst("Error").Text(), "3");
  EXPECT_EQ(broken.Root().FindFirst("Error").Attr("Info"), "no server");
  EXPECT_FALSE(FetchXml("/query/appserver?_appid=other").Root().FindFirst("Server"));
}

TEST_F(AvailabilityServer, FaultsShapeTheChosenRequestsOnly) {
  m_Server.AddFault(Fault("/query/info", [](TAvailFault& f) {
    f.Skip = 1;
    f.Count = 2;
    f.Status = 500;
  }));
  EXPECT_EQ(Fetch("/query/info").Status, 200);
  EXPECT_EQ(Fetch("/query/info").Status, 500);
  EXPECT_EQ(Fetch("/query/info").Status, 500);
  EXPECT_EQ(Fetch("/query/info").Status, 200);

  m_Server.AddFault(Fault("/query/hosts", [](TAvailFault& f) {
    f.Count = 1;
    f.Body = std::string("<Other/>");
  }));
  EXPECT_EQ(FetchXml("/query/hosts").Root().Name(), "Other");
  EXPECT_EQ(FetchXml("/query/hosts").Root().Name(), "OQN");

  // Malformed: the XML module refuses the body.
  m_Server.AddFault(
      Fault("/query/clientverification2", [](TAvailFault& f) { f.Malformed = true; }));
  TRawReply bad = Fetch("/query/clientverification2");
  EXPECT_EQ(bad.Status, 200);
  EXPECT_FALSE(bad.Body.empty());
  EXPECT_FALSE(TXmlDoc::Parse(bad.Body).IsValid());

  // Truncated: the whole length is announced, fewer bytes arrive, then the connection ends.
  m_Server.AddFault(Fault("/object/powerup", [](TAvailFault& f) { f.TruncateAt = 10; }));
  TRawReply cut = Fetch("/object/powerup?_objid=10.0.0.5");
  EXPECT_EQ(cut.Body.size(), 10u);
  EXPECT_GT(std::stoul(cut.Header("Content-Length")), 10u);
  EXPECT_EQ(cut.Header("Connection"), "close");

  // Closed without a reply.
  m_Server.AddFault(Fault("/object/del", [](TAvailFault& f) { f.CloseWithoutReply = true; }));
  TRawHttp c;
  ASSERT_TRUE(c.Connect(m_Port));
  ASSERT_TRUE(c.Send(Get("/object/del?_objid=desk2", false)));
  EXPECT_TRUE(c.ReadToEnd().empty());
  EXPECT_TRUE(m_Server.DeletedHosts().empty()) << "a replaced reply changes no state";

  // The odd chunked coding, and a delayed reply that still arrives whole.
  m_Server.AddFault(Fault("/query/userprofile", [](TAvailFault& f) {
    f.DelayMs = 20;
    f.TransferCoding = true;
  }));
  TRawReply chunked = Fetch("/query/userprofile?_uname=bob");
  EXPECT_EQ(chunked.Header("Transfer-Coding"), "CHUNKED");
  std::string encoded = FormURLEncode("EXTUNAME=Ym9i;K=v");
  char size[16];
  std::snprintf(size, sizeof size, "%zx", encoded.size());
  EXPECT_EQ(chunked.Body, std::string(size) + "\r\n" + encoded + "\r\n0\r\n\r\n");
}

TEST_F(AvailabilityServer, SilentRequestHoldsItsConnectionUntilStop) {
  m_Server.AddFault(Fault("/query/hosts", [](TAvailFault& f) { f.Silent = true; }));
  TRawHttp silent;
  ASSERT_TRUE(silent.Connect(m_Port));
  ASSERT_TRUE(silent.Send(Get("/query/hosts")));
  ASSERT_TRUE(m_Server.WaitForRequest("/query/hosts", kWait));
  // Other clients are still served meanwhile.
  EXPECT_EQ(Fetch("/query/info").Status, 200);
  m_Server.Stop();
  EXPECT_TRUE(silent.ReadToEnd().empty());
  m_Server.Stop();  // idempotent
}

TEST_F(AvailabilityServer, GarbageIsRefusedAndServingGoesOn) {
  TRawReply refused = Exchange(m_Port, "this is not http\r\n\r\n");
  EXPECT_EQ(refused.Status, 400);
  EXPECT_EQ(refused.Header("Connection"), "close");
  TRawReply big =
      Exchange(m_Port, "GET /query/info HTTP/1.1\r\nX: " + std::string(kMaxHttpHeader + 10, 'x') +
                           "\r\n\r\n");
  EXPECT_EQ(big.Status, 431);
  std::string binary(300, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 37);
  EXPECT_EQ(Exchange(m_Port, binary + "\r\n\r\n").Status, 400);
  {
    TRawHttp half;
    ASSERT_TRUE(half.Connect(m_Port));
    ASSERT_TRUE(half.Send("GET /query/in"));
  }
  EXPECT_EQ(Fetch("/query/info").Status, 200);
  EXPECT_EQ(m_Server.Requests().size(), 1u) << "refused requests are not recorded as requests";
  auto errors = m_Server.Errors();
  ASSERT_GE(errors.size(), 3u);
  EXPECT_NE(errors[0].find("refused request"), std::string::npos);
}

// Starts prmServer and has prmClient send one request that leaves the connection open.
void ServeOneKeptAlive(TAvailabilityServer& prmServer, TRawHttp& prmClient) {
  ASSERT_TRUE(prmClient.Connect(prmServer.Start()));
  ASSERT_TRUE(prmClient.Send(Get("/query/info", false)));
  ASSERT_TRUE(prmClient.ReadReply());
}

TEST(AvailabilityServerLimits, SurplusConnectionsAreTurnedAway) {
  TAvailScenario sc;
  sc.MaxConnections = 1;
  TAvailabilityServer server(sc);
  TRawHttp first;
  ServeOneKeptAlive(server, first);
  // While the first stays open (kept alive), a second connection is closed at once.
  TRawHttp second;
  ASSERT_TRUE(second.Connect(server.Port()));
  EXPECT_TRUE(second.WaitClosed());
  auto errors = server.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("already open"), std::string::npos);
  // Stop ends the kept-alive connection too.
  server.Stop();
  EXPECT_TRUE(first.WaitClosed());
}

TEST(AvailabilityServerLimits, IdleConnectionIsClosedByTheServer) {
  TAvailScenario sc;
  sc.KeepAliveTimeoutMs = 20;
  TAvailabilityServer server(sc);
  TRawHttp idle;
  ServeOneKeptAlive(server, idle);
  EXPECT_TRUE(idle.WaitClosed());
  EXPECT_TRUE(server.Errors().empty());
}

TEST(AvailabilityServerLimits, StartRefusesAddressesOffLoopback) {
  TAvailScenario sc;
  sc.ListenAddress = "0.0.0.0";
  TAvailabilityServer server(sc);
  EXPECT_THROW(server.Start(), EBaseException);
  TAvailabilityServer twice;
  twice.Start();
  EXPECT_THROW(twice.Start(), EBaseException);
}

}  // namespace
}  // namespace vantrel::testpeer
