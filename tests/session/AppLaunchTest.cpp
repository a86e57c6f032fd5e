// Application launches on a ready session: the availability server's answer, the server agent's
// type, the listener shared per application server, and every failure reported to the page.
#include <filesystem>

#include "LaunchTestKit.h"
#include "session/DesktopLaunch.h"

namespace vantrel::test::mng {
namespace {

constexpr const char* kAppsReply =
    "<OQN><Hosts RDPPort=\"3389\"/><Apps>"
    "<App Name=\"Text Editor\" Loc=\"C:\\n.exe\" Folder=\"Office\">np</App>"
    "<App Name=\"Calc\" Loc=\"c.exe\">calc</App></Apps></OQN>";
constexpr const char* kServer = "<OQN><Server Port=\"3390\">10.0.0.7</Server></OQN>";

class AppLaunch : public TLaunchTest {
 protected:
  void StartApps(const std::string& prmSettings = "") {
    StartSession(prmSettings, kAppsReply);
    m_Server.Script("/query/appserver", {{true, kServer}});
    m_Server.Script("/agent/info", {{true, "<Agent><ServerInfo Type=\"2\"/></Agent>"}});
  }
  void Forget() {
    std::filesystem::remove(m_Rec + "/argv");
    std::filesystem::remove(m_Rec + "/file");
    m_UI.Clear();
  }
  bool ClientStarted() { return std::filesystem::exists(m_Rec + "/argv"); }
};

TEST_F(AppLaunch, TheAgentsTypeChoosesRemoteApplicationOrFullSession) {
  StartApps();
  struct TRow {
    bool AgentAnswers;
    const char* Agent;
    const char* Mode;
    bool Error21;
  } rows[] = {
      {true, "<Agent><ServerInfo Type=\"2\"/></Agent>", "remoteapplicationmode:i:1", false},
      {true, "<ServerInfo Type=\"1\"/>", "remoteapplicationmode:i:0", false},
      {true, "<Agent><ServerInfo Type=\"7\"/></Agent>", "remoteapplicationmode:i:0", false},
      {true, "<Agent><Info Type=\"2\"/></Agent>", "remoteapplicationmode:i:0", true},
      {true, "agent ready", "remoteapplicationmode:i:0", true},
      {false, "", "remoteapplicationmode:i:0", false},
  };
  for (const TRow& r : rows) {
    Forget();
    m_Server.Script("/agent/info", {{r.AgentAnswers, r.Agent}});
    m_Mng->LaunchApp("NP", &m_DB, 3);
    const std::string file = ClientFile();
    EXPECT_NE(file.find(std::string(r.Mode) + "\r\n"), std::string::npos) << r.Agent;
    EXPECT_NE(file.find("full address:s:127.0.0.1:47001\r\n"), std::string::npos);
    EXPECT_EQ(m_UI.Reports("E"), r.Error21 ? TReports{"E21:"} : TReports{}) << r.Agent;
  }
  // The name with its space stays one argument of the client's command line.
  std::vector<std::string> argv = ClientArgs();
  ASSERT_EQ(argv.size(), 2u);
  EXPECT_EQ(argv[1], RdpFileFolder() + "/10.0.0.7_Text Editor.rdp");
  EXPECT_EQ(m_Server.URLsFor("/query/appserver").back(),
            "http://10.1.1.1:8080/query/appserver?_appid=np");
  EXPECT_EQ(m_Server.URLsFor("/agent/info").back(), "http://10.0.0.7:9091/agent/info");
  EXPECT_EQ(Conns().back().Dest, "10.0.0.7:3390");
  EXPECT_EQ(TunnelLogs().back(),
            (std::pair<int, std::string>{6, "Starting Text Editor  on 10.0.0.7"}));
}

TEST_F(AppLaunch, EveryFailureReachesThePageAndStartsNothing) {
  StartApps();
  struct TRow {
    const char* Name;
    std::function<void()> Arrange;
    TReports Errors;
  } rows[] = {
      {"server error",
       [&] {
         m_Server.Script("/query/appserver",
                         {{true, "<OQN><Error Info=\"none\">-2</Error></OQN>"}});
       },
       {"E20:-2"}},
      {"no server",
       [&] {
         m_Server.Script("/query/appserver", {{true, "<OQN/>"}});
       },
       {"E20:1"}},
      {"no answer",
       [&] {
         m_Server.Script("/query/appserver", {{false, ""}});
       },
       {"E20:invalid server response - fetch failed"}},
      {"unresolvable",
       [&] {
         m_Server.Script("/query/appserver", {{true, "<OQN><Server>app.corp</Server></OQN>"}});
       },
       {"E7:app.corp"}},
      {"no listener",
       [&] {
         m_Server.Script("/query/appserver", {{true, kServer}});
         m_Launch->AddOk = false;
       },
       {"E8:10.0.0.7"}},
      {"port outside the TCP range",
       [&] {
         m_Server.Script("/query/appserver", {{true, "<Server Port=\"70000\">10.0.0.7</Server>"}});
       },
       {"E6:"}},
      {"port too large for any integer",
       [&] {
         m_Server.Script("/query/appserver",
                         {{true, "<Server Port=\"99999999999\">10.0.0.7</Server>"}});
       },
       {"E6:"}},
      {"no tunnel", [&] { m_Tunnel->Ready = false; }, {"E10:"}},
  };
  for (const TRow& r : rows) {
    Forget();
    r.Arrange();
    const size_t conns = Conns().size();
    m_Mng->LaunchApp("np", &m_DB, -1);
    EXPECT_EQ(m_UI.Reports("E"), r.Errors) << r.Name;
    EXPECT_FALSE(ClientStarted()) << r.Name;
    if (r.Errors == TReports{"E6:"}) {
      EXPECT_EQ(Conns().size(), conns) << r.Name;
    }
  }
  // An unknown identity is no launch at all.
  Forget();
  m_Tunnel->Ready = true;
  m_Mng->LaunchApp("nothing", &m_DB, 0);
  EXPECT_TRUE(m_UI.Reports("E").empty());
}

// Unless the settings ask to keep them, connection files (with the protected password) are there
// when their client starts and gone soon after, for desktops and applications alike.
TEST_F(AppLaunch, ConnectionFilesGoSoonAfterTheirClientStarted) {
  StartApps("<Settings><showrdpfile>0</showrdpfile></Settings>");
  const std::string desktop = RdpFileFolder() + "/10.0.0.5.rdp";
  const std::string app = RdpFileFolder() + "/10.0.0.7_Text Editor.rdp";
  Launch("10.0.0.5");
  EXPECT_NE(ClientFile().find("full address:s:"), std::string::npos);
  Forget();
  m_Mng->LaunchApp("np", &m_DB, 0);
  EXPECT_NE(ClientFile().find("remoteapplicationname:s:Text Editor"), std::string::npos);
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(RDP_FILE_KEEP_MS + 2000);
  while ((std::filesystem::exists(desktop) || std::filesystem::exists(app)) &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(std::filesystem::exists(desktop));
  EXPECT_FALSE(std::filesystem::exists(app));
}

TEST_F(AppLaunch, ApplicationsOfOneServerShareItsFirstListener) {
  StartApps("<Settings><securityrdp>0</securityrdp></Settings>");
  m_Server.Script("/query/appserver", {{true, "<OQN><Server>10.0.0.7</Server></OQN>"}});
  m_Mng->LaunchApp("np", &m_DB, 0);
  EXPECT_NE(ClientFile().find("full address:s:127.0.0.1:47001\r\n"), std::string::npos);
  Forget();
  m_Launch->LocalPort = 47002;
  m_Mng->LaunchApp("calc", &m_DB, 1);
  EXPECT_NE(ClientFile().find("full address:s:127.0.0.1:47001\r\n"), std::string::npos);
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].SecurityRDP, 0);

  struct TRow {
    const char* Key;
    int Port;
  } rows[] = {
      {"10.0.0.7:3389", 47001},
      {"0.0.0.7:3389", 0},  // a part of another server's key is not that server
      {"10.0.0.7:3390", 0},
      {"10.0.0.8:3389", 0},
  };
  for (const TRow& r : rows) EXPECT_EQ(m_Mng->GetRealPortForApp(r.Key), r.Port) << r.Key;
}

}  // namespace
}  // namespace vantrel::test::mng
