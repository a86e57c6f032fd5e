// A portal session with a XenApp farm and a XenDesktop desktop, vantreltcs driven as a page
// drives it: the farm logon (single sign-on, or the login dialog after a refusal), the farm's
// applications in their folders with their icons uploaded to the availability server, and the
// launches of an application and of the desktop, whose ICA client (the fake one) moves bytes
// through the tunnel to the ICA servers behind the gateway.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "integration/host_session.h"
#include "platform/Settings.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/FakeIcaClient.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel::test {
namespace {

using host::TJson;
namespace fs = std::filesystem;

constexpr const char* kFarmServer = testpeer::kDemoXmlServiceAddress;
constexpr char kController[] = "10.0.1.11";  // kDemoControllerAddress without its port
constexpr char kAppServer[] = "10.0.1.20";
constexpr char kDesktopServer[] = "10.0.1.21:1494";

struct TLogonCase {
  const char* Name;
  const char* ServiceUser;  // the credentials the farm's service accepts
  const char* ServicePassword;
  // The page's answers to the dialogs the farm logon shows, in order (message boxes, login).
  std::vector<std::string> Answers;
  bool Listed;  // the farm's applications are filed in the folder tree
};

class CitrixSession : public ::testing::TestWithParam<TLogonCase>, protected THostSession {
 protected:
  void SetUp() override {
    m_Ica.Start();
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((ScenarioDir() / "avail-demo.json").string());
    avail.RulesXml = "<Rules/>";
    avail.Apps.clear();
    testpeer::TAvailHost desk;
    desk.Address = kController;
    desk.Attrs = {
        {"ID", "xd1"}, {"Desc", "XenDesktop pool"}, {"State", "3"}, {"Provider", "XenDesktop"}};
    desk.ProvParams = {{"CtlIP", kController}, {"Domain", "DEMO"}};
    avail.Hosts = {desk};
    avail.Farms = {{"4",
                    {{"FarmName", "Farm One"},
                     {"Folder", "Citrix"},
                     {"Servers", std::string("10.0.1.9:80,") + kFarmServer + ","}}}};
    testpeer::TXmlService& xml = avail.XmlService;
    xml.User = GetParam().ServiceUser;
    xml.Password = GetParam().ServicePassword;
    xml.Domain = "DEMO";
    xml.Apps = {{"Calc", "", 8, false, kAppServer, "", false, "TAG1:TAG2"},
                {"Word", "Office", 4, true, kAppServer, "", false, "SINGLE"}};
    xml.Desktops["xd1"] = {kDesktopServer, "DTAG"};
    testpeer::TGatewayScenario gw = testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO);
    const std::string ica = "127.0.0.1:" + std::to_string(m_Ica.Port());
    gw.Mapping[std::string(kAppServer) + ":1494"] = ica;
    gw.Mapping[kDesktopServer] = ica;
    // The farm's first server is not reachable; the other and the controller are the
    // availability peer, which serves the XML service's path.
    StartPeers(std::move(avail), std::move(gw));

    const fs::path client = fs::path(TempDir()) / "ica-client";
    fs::create_directories(client);
    std::ofstream(client / "wfica")
        << "#!/bin/sh\nexec '" << BinDir() << "/vantrel-testpeer' ica-client \"$1\"\n";
    fs::permissions(client / "wfica", fs::perms::owner_all);
    m_Report = (client / "report.jsonl").string();
    fs::remove(m_Report);
    setenv("VANTREL_ICA_CLIENT", (client / "wfica").c_str(), 1);
    setenv(testpeer::kFakeIcaReportVar, m_Report.c_str(), 1);
  }

  TJson Ask(const std::string& prmRequest) {
    m_Pipes.Send("{\"id\":" + std::to_string(++m_Id) + "," + prmRequest + "}\n");
    return Reply(m_Id);
  }

  // The fake client's reports once prmCount of them were written.
  std::vector<TJson> Reports(size_t prmCount) {
    std::vector<TJson> out;
    for (int i = 0; i < 400 && out.size() < prmCount; ++i) {
      out.clear();
      std::ifstream in(m_Report);
      for (std::string line; std::getline(in, line);)
        out.push_back(TJson::parse(line, nullptr, false));
      if (out.size() < prmCount) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return out;
  }

  testpeer::TTcpTestServer m_Ica{testpeer::TTcpServerMode::Echo};
  std::string m_Report;
  int m_Id = 100;
};

TEST_P(CitrixSession, FarmLogonApplicationsIconsAndLaunches) {
  StartHost();
  m_Pipes.Send(R"({"id":1,"method":"InitTCS"})"
               "\n");
  std::vector<TJson> dialogs;
  for (const std::string& answer : GetParam().Answers) {
    TJson d;
    ASSERT_TRUE(ReadUntil([&](const TJson& j) {
      d = j;
      return j.contains("dialog");
    }));
    dialogs.push_back(d);
    m_Pipes.Send(R"({"dialog_reply":)" + d["id"].dump() + "," + answer + "}\n");
  }
  ASSERT_TRUE(WaitForEvent("OnTCSStatusChanged", 6));
  for (const TJson& d : dialogs)
    if (d["dialog"] == "login") {
      EXPECT_EQ(d["caption"], "Login to Farm One...");
      EXPECT_EQ(d["domain"], "DEMO");
    }

  EXPECT_EQ(Ask(R"("get":"SubFoldersCount")")["result"], GetParam().Listed ? 1 : 0);
  if (!GetParam().Listed) {
    EXPECT_TRUE(m_Avail->Requests("/object/iconcache").empty());
    m_Pipes.EndInput();
    EXPECT_EQ(WaitHost(), 0);
    return;
  }
  Ask(R"("method":"SetCurFolder","args":[0])");
  EXPECT_EQ(Ask(R"("get":"CurFolder")")["result"], "Citrix");
  ASSERT_EQ(Ask(R"("get":"AppsCount")")["result"], 1);
  Ask(R"("method":"SetCurApp","args":[0])");
  EXPECT_EQ(Ask(R"("get":"CurAppName")")["result"], "Calc");
  EXPECT_EQ(Ask(R"("get":"CurAppIconURL")")["result"],
            "/prx/000/http/localhost:9090/query/appicon?_appid=c4Calc");
  // Both icons (16-colour and 32-bit) reached the availability server's cache as PNG.
  auto icons = m_Avail->Icons();
  ASSERT_EQ(icons.size(), 2u);
  for (const auto& [id, png] : icons) EXPECT_EQ(png.substr(1, 3), "PNG") << id;
  EXPECT_EQ(m_Avail->Requests("/query/iconcache").at(0).Body, "c4Calc,c4Word,");

  EXPECT_EQ(Ask(R"("method":"LaunchCurApp")")["result"], nullptr);
  std::vector<TJson> reports = Reports(1);
  ASSERT_EQ(reports.size(), 1u);
  const TJson& app = reports[0];
  EXPECT_EQ(app["error"], "");
  EXPECT_TRUE(app["echoed"].get<bool>());
  EXPECT_FALSE(app["mentionsPassword"].get<bool>());
  EXPECT_EQ(app["entries"]["LogonTicket"], "DEMO-TICKET");  // the demo service's
  EXPECT_EQ(app["entries"]["InitialProgram"], "#Calc");
  EXPECT_FALSE(fs::exists(app["file"].get<std::string>()));  // RemoveICAFile=yes

  // The desktop is asked for with the session's credentials, which only this service accepts.
  if (std::string(GetParam().ServiceUser) != "demo") {
    m_Pipes.EndInput();
    EXPECT_EQ(WaitHost(), 0);
    return;
  }
  Ask(R"("method":"LaunchDesktop","args":[0,1])");
  reports = Reports(2);
  ASSERT_EQ(reports.size(), 2u);
  const TJson& desktop = reports[1];
  EXPECT_EQ(desktop["error"], "");
  EXPECT_EQ(desktop["entries"]["InitialProgram"], "#xd1");
  EXPECT_EQ(desktop["entries"]["Title"], "My PC");
  // The service was asked with its own host, not the loopback listener's.
  bool controllerAsked = false;
  for (const auto& r : m_Avail->Requests(testpeer::kXmlServicePath))
    controllerAsked |= r.Header("Host") == std::string(kController) + ":80";
  EXPECT_TRUE(controllerAsked);
  EXPECT_TRUE(m_Ica.WaitFor([](const auto& c) { return c.Accepted >= 2; }, kHostHangGuardMs));

  m_Pipes.EndInput();
  EXPECT_EQ(WaitHost(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Logon, CitrixSession,
    ::testing::Values(
        TLogonCase{"SingleSignOn", "demo", "demo-password", {}, true},
        TLogonCase{"RefusedThenLoginDialog",
                   "anna",
                   "pw",
                   {R"("result":"ok")",
                    R"("result":"ok","fields":{"user":"anna","password":"pw","domain":"DEMO"})"},
                   true},
        TLogonCase{"Cancelled", "anna", "pw", {R"("result":"ok")", R"("result":"cancel")"}, false}),
    [](const auto& prmInfo) { return std::string(prmInfo.param.Name); });

}  // namespace
}  // namespace vantrel::test
