#include "config/DbMng.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/LogCapture.h"

namespace vantrel {
namespace {

TEST(DbMng, InitialValues) {
  const TDBMng db;
  EXPECT_EQ(db.GetTSAgentURL(), "");
  EXPECT_EQ(db.GetTSAgentVersion(), "");
  EXPECT_EQ(db.GetXenAppClientURL(), "");
  EXPECT_EQ(db.GetXenAppProxy(), "");
  EXPECT_EQ(db.GetDomain(), "");
  EXPECT_EQ(db.GetFlagConfig(), 0);
  EXPECT_EQ(db.GetDefHeight(), 480);
  EXPECT_EQ(db.GetDefWidth(), 640);
  EXPECT_EQ(db.GetDefSize(), 0);
  EXPECT_EQ(db.GetDefColorDepth(), 1);
  EXPECT_EQ(db.GetPluginsCount(), 0);
  EXPECT_EQ(db.GetAgentProxy(), "");
  EXPECT_EQ(db.GetDefHost(), "");
  EXPECT_EQ(db.GetOstraServer(), "");
  EXPECT_EQ(db.GetIdleAlert(), 0);
  EXPECT_EQ(db.GetKeepAlive(), 0);
  EXPECT_EQ(db.GetLifetimeAlert(), 0);
  EXPECT_EQ(db.GetIdleTimeoutKM(), 0);
  EXPECT_EQ(db.GetOstraInstance(), "default");
  EXPECT_EQ(db.GetRDPPort(), 3389);
  EXPECT_EQ(db.GetKeyboardHook(), 1);
  EXPECT_EQ(db.GetAudioMode(), 0);
  EXPECT_EQ(db.GetConnectionType(), 2);
  EXPECT_EQ(db.GetGatewayusagemethod(), 4);
  EXPECT_EQ(db.GetGatewaycredentialssource(), 4);
  EXPECT_EQ(db.GetAutoreconnectMaxRetries(), 1);
  EXPECT_EQ(db.GetSecurityRDPFlag(), 0);  // type 0 is not Morv
  EXPECT_EQ(db.GetAuthenticationLevel(), 0);

  const std::pair<const char*, bool> flags[] = {
      {"SSO", db.GetSSO()},
      {"RedirDrives", db.GetRedirDrives()},
      {"RedirPrinters", db.GetRedirPrinters()},
      {"RedirPorts", db.GetRedirPorts()},
      {"RedirSmartCards", db.GetRedirSmartCards()},
      {"RedirClipboard", db.GetRedirClipboard()},
      {"RedirPOS", db.GetRedirPOS()},
      {"AllowRedirConfig", db.GetAllowRedirConfig()},
      {"FilesStoredLocally", db.FilesStoredLocally()},
      {"OstraEnabled", db.OstraEnabled()},
      {"AllowCustomDest", db.AllowCustomDest()},
      {"Startupoptions", db.GetStartupoptions()},
      {"AutoStart", db.GetAutoStart()},
      {"AutoClose", db.GetAutoClose()},
      {"HideOnConnect", db.GetHideOnConnect()},
      {"AllowConnectToConsole", db.GetAllowConnectToConsole()},
      {"EnablePowerMng", db.GetEnablePowerMng()},
      {"AutoLaunchSingleDesktop", db.GetAutoLaunchSingleDesktop()},
      {"AutoLogoutSingleDesktop", db.GetAutoLogoutSingleDesktop()},
      {"IOSKeyboardPreview", db.GetIOSKeyboardPreview()},
      {"MonitorSpan", db.GetMonitorSpan()},
      {"Multimon", db.GetMultimon()},
      {"HideConnectionBar", db.GetHideConnectionBar()},
      {"Audiocapturemode", db.GetAudiocapturemode()},
      {"AllowDesktopComposition", db.GetAllowDesktopComposition()},
      {"DisableCursorSetting", db.GetDisableCursorSetting()},
      {"AutoreconnectionEnabled", db.GetAutoreconnectionEnabled()},
      {"PromptForCredentials", db.GetPromptForCredentials()},
      {"Gatewayprofileusagemethod", db.GetGatewayprofileusagemethod()},
      {"Promptcredentialonce", db.GetPromptcredentialonce()},
      {"UseRedirectionServerName", db.GetUseRedirectionServerName()},
      {"Enableworkspacereconnect", db.GetEnableworkspacereconnect()},
      {"Disableconnectionsharing", db.GetDisableconnectionsharing()},
      {"VaildAppSize", db.GetVaildAppSize()},
      {"ExtraAuth", db.GetExtraAuth()},
      {"Independently", db.GetIndependently()},
  };
  for (const auto& [name, value] : flags) EXPECT_FALSE(value) << name;

  const std::pair<const char*, bool> onFlags[] = {
      {"EnableGUI", db.GetEnableGUI()},
      {"BitmapCache", db.GetBitmapCache()},
      {"Wallpaper", db.GetWallpaper()},
      {"FullWindowDrag", db.GetFullWindowDrag()},
      {"MenuAnim", db.GetMenuAnim()},
      {"Theme", db.GetTheme()},
      {"SmartSizing", db.GetSmartSizing()},
      {"Enablecredsspsupport", db.GetEnablecredsspsupport()},
      {"Compression", db.GetCompression()},
      {"Videoplaybackmode", db.GetVideoplaybackmode()},
      {"AllowFontSmoothing", db.GetAllowFontSmoothing()},
      {"Redirectdirectx", db.GetRedirectdirectx()},
      {"NegotiateSecurityLayer", db.GetNegotiateSecurityLayer()},
      {"Networkautodetect", db.GetNetworkautodetect()},
      {"Bandwidthautodetect", db.GetBandwidthautodetect()},
      {"Disableremoteappcapscheck", db.GetDisableremoteappcapscheck()},
      {"ShowRdpFile", db.GetShowRdpFile()},
  };
  for (const auto& [name, value] : onFlags) EXPECT_TRUE(value) << name;
}

TEST(DbMng, SettersAndDerivedAnswers) {
  TDBMng db;
  db.SetOstraServer("127.0.0.1:9090");
  EXPECT_EQ(db.GetOstraServer(), "127.0.0.1:9090");
  EXPECT_TRUE(db.OstraEnabled());

  db.SetRedir(true, false, true, false, true, false);
  EXPECT_TRUE(db.GetRedirDrives());
  EXPECT_FALSE(db.GetRedirPrinters());
  EXPECT_TRUE(db.GetRedirPorts());
  EXPECT_FALSE(db.GetRedirSmartCards());
  EXPECT_TRUE(db.GetRedirClipboard());
  EXPECT_FALSE(db.GetRedirPOS());

  int w = 0, h = 0;
  db.XenAppGetSize(w, h);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(h, -1);
  EXPECT_TRUE(db.XenAppIsCustomSize());
  EXPECT_EQ(db.XenAppGetClientNamePrefix(), "");
}

TEST(DbMng, SecurityRdpAndAuthenticationLevelFollowThePlatform) {
  TDBMng db;
  db.Load("*;;;;;;;;;;;;;;;;;;;;;;;;2;");  // authentication level 2, security-RDP still 1
  ASSERT_EQ(db.GetFlagConfig(), 1);
  db.SetType(1);  // Pelx
  EXPECT_EQ(db.GetSecurityRDPFlag(), 0);
  EXPECT_EQ(db.GetAuthenticationLevel(), 0);
  db.SetType(2);  // Morv: security-RDP in force, so the level is withheld
  EXPECT_EQ(db.GetSecurityRDPFlag(), 1);
  EXPECT_EQ(db.GetAuthenticationLevel(), 0);
}

TEST(DbMng, GetIndependentlyLogsItsAnswer) {
  test::TLogCapture log;
  TDBMng db;
  EXPECT_FALSE(db.GetIndependently());
  EXPECT_TRUE(log.HasLine("GetIndependently : False"));
}

TEST(DbMng, ReadyFlagPublishesTheLoad) {
  // The RDP set-up polls the flag from another thread and then reads the settings.
  TDBMng db;
  bool sso = false;
  std::thread reader([&] {
    for (int i = 0; i < 100000000 && db.GetFlagConfig() == 0; ++i) std::this_thread::yield();
    sso = db.GetFlagConfig() == 1 && db.GetSSO();
  });
  db.Load("*;;1;");
  reader.join();
  EXPECT_TRUE(sso);
}

}  // namespace
}  // namespace vantrel
