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

TEST_F(TLaunchTest, ListedPortsOutsideTheTcpRangeReportError6AndOpenNothing) {
  for (const char* hosts :
       {"<Hosts><Host ID=\"d\" Params=\"_PORT=70000\">10.0.0.5</Host></Hosts>",
        "<Hosts><Host ID=\"d\" Params=\"_PORT=4294967296\">10.0.0.5</Host></Hosts>",
        "<Hosts RDPPort=\"-1\"><Host ID=\"d\">10.0.0.5</Host></Hosts>",
        "<Hosts RDPPort=\"99999999999\"><Host ID=\"d\">10.0.0.5</Host></Hosts>"}) {
    SCOPED_TRACE(hosts);
    m_DB.SetRDPPort(3389);
    StartSession("", std::string("<OQN>") + hosts + "</OQN>");
    ASSERT_EQ(m_Mng->GetHosts().size(), 1u);
    Launch("ignored", 0);
    EXPECT_EQ(m_UI.Reports("E"), TReports{"E6:"});
    EXPECT_TRUE(Conns().empty());
  }
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

// The password entry is protected with a fresh nonce on every launch; the rest is fixed.
std::string WithoutProtectedPassword(std::string prmFile) {
  const std::string entry = "password 51:b:";
  size_t at = prmFile.find(entry);
  if (at != std::string::npos)
    prmFile.replace(at + entry.size(), prmFile.find("\r\n", at) - at - entry.size(), "*");
  return prmFile;
}

// Every connection file byte from the settings to the file, with each setting away from its
// default (integers above 255 show which entries keep only their low byte), and from defaults.
TEST_F(TLaunchTest, ConnectionFileFromEverySetting) {
  const std::string plugin = m_Rec + "/chan.so";
  std::ofstream(plugin) << "x";
  m_DB.Load("*;;;;;;;;" + plugin + ",;");
  StartSession(
      "<Settings><showrdpfile>1</showrdpfile><sso>1</sso><domain>CORP</domain>"
      "<securityrdp>0</securityrdp><desktopwall>1</desktopwall><fullwindowdrag>1</fullwindowdrag>"
      "<menuanim>1</menuanim><themes>1</themes><hideconnbar>1</hideconnbar><span>1</span>"
      "<keyboardhook>300</keyboardhook><multimon>1</multimon><smart_sizing>0</smart_sizing>"
      "<credential>0</credential><audiocapturemode>1</audiocapturemode>"
      "<compression>0</compression><videoplaybackmode>0</videoplaybackmode>"
      "<allow_font_smoothing>0</allow_font_smoothing>"
      "<allow_desktop_composition>1</allow_desktop_composition>"
      "<disable_cursor_setting>1</disable_cursor_setting><redirectdirectx>0</redirectdirectx>"
      "<autoreconnection_enabled>1</autoreconnection_enabled>"
      "<prompt_for_credentials>1</prompt_for_credentials>"
      "<negotiate_security_layer>0</negotiate_security_layer>"
      "<gatewayprofileusagemethod>1</gatewayprofileusagemethod>"
      "<promptcredentialonce>1</promptcredentialonce><connection_type>262</connection_type>"
      "<gatewayusagemethod>257</gatewayusagemethod>"
      "<gatewaycredentialssource>259</gatewaycredentialssource>"
      "<autoreconnect_max_retries>276</autoreconnect_max_retries>"
      "<use_redirection_server_name>1</use_redirection_server_name>"
      "<networkautodetect>0</networkautodetect><bandwidthautodetect>0</bandwidthautodetect>"
      "<enableworkspacereconnect>1</enableworkspacereconnect>"
      "<disableremoteappcapscheck>0</disableremoteappcapscheck>"
      "<disableconnectionsharing>1</disableconnectionsharing>"
      "<authentication_level>258</authentication_level><audiomode>257</audiomode></Settings>",
      "<OQN><DPPs><DPP RDrv=\"1\" RPrt=\"1\" RPorts=\"1\" RSC=\"1\" RClip=\"1\" RPOS=\"1\"/>"
      "</DPPs><Hosts RDPPort=\"3389\"/></OQN>");
  m_Mng->LaunchDesktop("10.0.0.5:3390", -1, 1280, 1024, 16, true, 0, 0, true, false, true, "",
                       "/home/anna", 0, &m_DB);
  EXPECT_EQ(WithoutProtectedPassword(ClientFile()),
            "screen mode id:i:1\r\ndesktopwidth:i:1280\r\ndesktopheight:i:1024\r\n"
            "full address:s:127.0.0.1:47001\r\nusername:s:effective\r\npassword 51:b:*\r\n"
            "domain:s:CORP\r\ndevicestoredirect:s:" +
                plugin +
                "\r\nsession bpp:i:16\r\ndisplayconnectionbar:i:0\r\nspan monitors:i:1\r\n"
                "use multimon:i:1\r\nsmart sizing:i:0\r\nenablecredsspsupport:i:0\r\n"
                "audiocapturemode:i:1\r\ncompression:i:0\r\nvideoplaybackmode:i:0\r\n"
                "allow font smoothing:i:0\r\nallow desktop composition:i:1\r\n"
                "disable cursor setting:i:1\r\nredirectdirectx:i:0\r\n"
                "autoreconnection enabled:i:1\r\nprompt for credentials:i:1\r\n"
                "negotiate security layer:i:0\r\ngatewayprofileusagemethod:i:1\r\n"
                "promptcredentialonce:i:1\r\nconnection type:i:6\r\ngatewayusagemethod:i:1\r\n"
                "gatewaycredentialssource:i:3\r\nautoreconnect max retries:i:20\r\n"
                "use redirection server name:i:1\r\nnetworkautodetect:i:0\r\n"
                "bandwidthautodetect:i:0\r\nenableworkspacereconnect:i:1\r\n"
                "alternate shell:s:\r\nshell working directory:s:\r\ngatewayhostname:s:\r\n"
                "redirectdrives:i:1\r\nredirectprinters:i:1\r\nredirectcomports:i:1\r\n"
                "redirectsmartcards:i:1\r\nredirectclipboard:i:1\r\nredirectposdevices:i:1\r\n"
                "audiomode:i:1\r\nconnect to console:i:1\r\ndisable wallpaper:i:0\r\n"
                "disable full window drag:i:0\r\ndisable menu anims:i:0\r\n"
                "disable themes:i:0\r\nbitmapcachepersistenable:i:0\r\n"
                "remoteapplicationexpandworkingdir:i:/home/anna\r\nkeyboardhook:i:300\r\n"
                "authentication level:i:2\r\nremoteapplicationmode:i:0\r\n");
}

TEST_F(TLaunchTest, ConnectionFileFromDefaults) {
  StartSession();
  Launch("10.0.0.5");
  EXPECT_EQ(ClientFile(),
            "screen mode id:i:1\r\ndesktopwidth:i:1280\r\ndesktopheight:i:1024\r\n"
            "full address:s:127.0.0.1:47001\r\nusername:s:\r\nsession bpp:i:24\r\n"
            "displayconnectionbar:i:1\r\nspan monitors:i:0\r\nuse multimon:i:0\r\n"
            "smart sizing:i:1\r\nenablecredsspsupport:i:1\r\naudiocapturemode:i:0\r\n"
            "compression:i:1\r\nvideoplaybackmode:i:1\r\nallow font smoothing:i:1\r\n"
            "allow desktop composition:i:0\r\ndisable cursor setting:i:0\r\n"
            "redirectdirectx:i:1\r\nautoreconnection enabled:i:0\r\n"
            "prompt for credentials:i:0\r\nnegotiate security layer:i:1\r\n"
            "gatewayprofileusagemethod:i:0\r\npromptcredentialonce:i:0\r\n"
            "connection type:i:2\r\ngatewayusagemethod:i:4\r\ngatewaycredentialssource:i:4\r\n"
            "autoreconnect max retries:i:1\r\nuse redirection server name:i:0\r\n"
            "networkautodetect:i:1\r\nbandwidthautodetect:i:1\r\n"
            "enableworkspacereconnect:i:0\r\nalternate shell:s:\r\n"
            "shell working directory:s:\r\ngatewayhostname:s:\r\nredirectdrives:i:0\r\n"
            "redirectprinters:i:0\r\nredirectcomports:i:0\r\nredirectsmartcards:i:0\r\n"
            "redirectclipboard:i:0\r\nredirectposdevices:i:0\r\naudiomode:i:0\r\n"
            "connect to console:i:0\r\ndisable wallpaper:i:1\r\n"
            "disable full window drag:i:1\r\ndisable menu anims:i:1\r\ndisable themes:i:1\r\n"
            "bitmapcachepersistenable:i:1\r\nkeyboardhook:i:1\r\nauthentication level:i:0\r\n"
            "remoteapplicationmode:i:0\r\n");
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
