// Desktop launches through a ready session: typed and listed destinations, the error paths, name
// resolution retries, the listener's flags, the connection file the client finds, the command
// line, the error boxes and the clean-up of connection files.
#include <sys/stat.h>

#include "LaunchTestKit.h"
#include "session/DesktopLaunch.h"

namespace vantrel::test::mng {
namespace {

mode_t ModeOf(const std::string& prmPath) {
  struct stat st {};
  EXPECT_EQ(stat(prmPath.c_str(), &st), 0) << prmPath;
  return st.st_mode & 0777;
}

constexpr const char* kKeepFiles = "<Settings><showrdpfile>1</showrdpfile></Settings>";
constexpr const char* kCleanFiles = "<Settings><showrdpfile>0</showrdpfile></Settings>";

TEST_F(TLaunchTest, TypedDestinationWithPortGoesThroughResolvedListener) {
  StartSession(kKeepFiles);
  m_Launch->Answers = {NetAddr(10, 0, 0, 9)};
  Launch("desk.corp:3390");

  EXPECT_EQ(Resolves(), std::vector<std::string>{"desk.corp"});
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].Dest, "10.0.0.9:3390");
  EXPECT_EQ(Conns()[0].SecurityRDP, 1);  // the store's default for this gateway type
  const std::string path = RdpFileFolder() + "/desk.corp:3390.rdp";
  EXPECT_EQ(ClientArgs(), (std::vector<std::string>{m_Rec + "/fake-client", path}));
  std::string file = ClientFile();
  EXPECT_EQ(file.rfind("screen mode id:i:1\r\ndesktopwidth:i:1280\r\ndesktopheight:i:1024\r\n"
                       "full address:s:127.0.0.1:47001\r\nusername:s:\r\n",
                       0),
            0u);
  EXPECT_NE(file.find("session bpp:i:24\r\n"), std::string::npos);
  // Bitmap caching is written inverted, as the launch hands it on.
  EXPECT_NE(file.find("bitmapcachepersistenable:i:1\r\n"), std::string::npos);
  EXPECT_EQ(ModeOf(RdpFileFolder()), 0700u);
  EXPECT_EQ(ModeOf(path), 0600u);
  auto logs = TunnelLogs();
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back(),
            (std::pair<int, std::string>{6, "Starting a remote desktop on desk.corp"}));
  EXPECT_TRUE(m_UI.Reports("E").empty());
  // The file stays for the user to see: no clean-up was scheduled.
  EXPECT_FALSE(m_Mng->LaunchWorker().CleanupPending());
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(TLaunchTest, TypedDestinationsWithoutPortOrWithDottedAddress) {
  StartSession(kKeepFiles);
  Launch("10.1.2.3");
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].Dest, "10.1.2.3:3389");
  EXPECT_TRUE(Resolves().empty());  // an address needs no resolution
  EXPECT_EQ(ClientArgs().back(), RdpFileFolder() + "/10.1.2.3.rdp");
}

TEST_F(TLaunchTest, BadDestinationsReportTheirErrorsAndLaunchNothing) {
  StartSession();
  Launch("desk:abc");
  Launch("desk:70000");  // not a TCP port
  Launch("desk:");
  Launch(":3390");
  Launch("");
  Launch("", 5);  // outside the list: nothing at all
  m_Window.ProcessMessages();
  EXPECT_EQ(m_UI.Reports("E"), (TReports{"E6:", "E6:", "E6:", "E11:", "E11:"}));
  m_Tunnel->Ready = false;
  Launch("desk");
  EXPECT_EQ(m_UI.Reports("E").back(), "E10:");
  EXPECT_TRUE(Resolves().empty());
  EXPECT_TRUE(Conns().empty());
}

TEST_F(TLaunchTest, ResolutionPendingIsRetriedExactlyOnce) {
  StartSession();
  m_Launch->Answers = {0xFFFFFFFF, NetAddr(10, 0, 0, 7)};
  Launch("late.corp");
  EXPECT_EQ(Resolves().size(), 2u);
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].Dest, "10.0.0.7:3389");

  m_Launch->Resolves.clear();
  m_Launch->Answers = {0xFFFFFFFF};
  Launch("never.corp");
  EXPECT_EQ(Resolves().size(), 2u);
  m_Launch->Resolves.clear();
  m_Launch->Answers = {0};
  Launch("unknown.corp");
  EXPECT_EQ(Resolves().size(), 1u);
  EXPECT_EQ(m_UI.Reports("E"), (TReports{"E7:never.corp", "E7:unknown.corp"}));
  EXPECT_EQ(Conns().size(), 1u);
}

TEST_F(TLaunchTest, RefusedListenerReportsError8) {
  StartSession();
  m_Launch->AddOk = false;
  Launch("10.0.0.8:3391");
  EXPECT_EQ(m_UI.Reports("E"), TReports{"E8:10.0.0.8"});
  for (auto& log : TunnelLogs()) EXPECT_EQ(log.second.find("Starting a remote"), std::string::npos);
}

TEST_F(TLaunchTest, ListedDesktopWithSingleSignOnAndConsole) {
  StartSession(kKeepFiles,
               "<OQN><Hosts RDPPort=\"3389\"><Host ID=\"d1\">10.0.0.5</Host>"
               "<Host ID=\"d2\">10.0.0.6</Host></Hosts></OQN>");
  m_DB.SetSSO(true);
  m_DB.SetDomain("CORP");
  ASSERT_EQ(m_Mng->GetHosts().size(), 2u);
  Launch("ignored", 0, /*console=*/true, /*sso=*/true);
  ASSERT_EQ(Conns().size(), 1u) << ::testing::PrintToString(m_UI.Reports());
  EXPECT_EQ(Conns()[0].Dest, "10.0.0.5:3389");
  EXPECT_TRUE(Conns()[0].SSO);
  const std::string path = RdpFileFolder() + "/10.0.0.5.rdp";
  EXPECT_EQ(ClientArgs(), (std::vector<std::string>{m_Rec + "/fake-client", "/admin", path}));
  std::string file = ClientFile();
  EXPECT_NE(file.find("username:s:effective\r\npassword 51:b:"), std::string::npos);
  EXPECT_NE(file.find("domain:s:CORP\r\n"), std::string::npos);
  EXPECT_NE(file.find("connect to console:i:1\r\n"), std::string::npos);
  EXPECT_EQ(file.find("effpw"), std::string::npos);
  size_t at = file.find("password 51:b:") + 14;
  std::string password;
  ASSERT_TRUE(UncryptRDPPassword(file.substr(at, file.find("\r\n", at) - at), password));
  EXPECT_EQ(password, "effpw");
}

TEST_F(TLaunchTest, WithoutSingleSignOnNoCredentialsAreWritten) {
  StartSession("<Settings><showrdpfile>1</showrdpfile><sso>0</sso></Settings>");
  Launch("10.0.0.5", -1, false, /*sso=*/true);
  std::string file = ClientFile();
  EXPECT_NE(file.find("username:s:\r\n"), std::string::npos);
  EXPECT_EQ(file.find("password 51"), std::string::npos);
  EXPECT_EQ(file.find("domain:s:"), std::string::npos);
}

TEST_F(TLaunchTest, StartFailuresShowTheirErrorBoxes) {
  StartSession(kCleanFiles);
  setenv("VANTREL_RDP_CLIENT", (m_Rec + "/missing-client").c_str(), 1);
  Launch("10.0.0.5");
  const std::string notExecutable = m_Rec + "/not-executable";
  std::ofstream(notExecutable) << "x";
  setenv("VANTREL_RDP_CLIENT", notExecutable.c_str(), 1);
  Launch("10.0.0.6");
  auto shown = m_Dialogs.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Text, "Failed to start local client, please check the path specified");
  EXPECT_EQ(shown[1].Text, "Failed to create process error: 13");
  // The files are cleaned up all the same.
  EXPECT_TRUE(m_Mng->LaunchWorker().CleanupPending());
}

TEST_F(TLaunchTest, FilesAreCleanedUpAfterTheLaunchUnlessShown) {
  StartSession(kCleanFiles);
  Launch("10.0.0.5");
  ClientArgs();
  EXPECT_TRUE(m_Mng->LaunchWorker().CleanupPending());
}

TEST_F(TLaunchTest, XenDesktopIsNotLaunched) {
  m_DB.SetType(2);
  Make();
  m_Mng->SetAppMngFactory([this](int, const TAppMngParams&) {
    return std::make_unique<TLaunchTunnel>(m_Tunnel, m_Launch);
  });
  m_Server.Script("/query/info", {{true, kInfoReply}});
  m_Server.Script("/query/hosts", {{true,
                                    "<OQN><Hosts RDPPort=\"3389\"><Host ID=\"10.0.0.5\" Desc=\"X\" "
                                    "Provider=\"XenDesktop\">10.0.0.5</Host></Hosts></OQN>"}});
  ASSERT_TRUE(Start());
  m_Launch->Conns.clear();  // the availability server's
  ASSERT_EQ(m_Mng->GetHosts().size(), 1u);
  m_UI.Clear();
  Launch("", 0);
  m_Window.ProcessMessages();
  EXPECT_TRUE(m_UI.Reports("E").empty());
  EXPECT_TRUE(Conns().empty());
  EXPECT_FALSE(std::filesystem::exists(m_Rec + "/argv"));
}

}  // namespace
}  // namespace vantrel::test::mng
