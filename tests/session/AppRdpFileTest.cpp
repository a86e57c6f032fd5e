// The application's connection file, byte for byte for both server types, and the rules that
// decide its size entries.
#include <gtest/gtest.h>

#include "config/DbMng.h"
#include "session/AppRdpFile.h"

namespace vantrel::test {
namespace {

std::string Crlf(std::initializer_list<const char*> prmLines) {
  std::string out;
  for (const char* l : prmLines) out += std::string(l) + "\r\n";
  return out;
}

TWinAppParams Notepad() {
  TWinAppParams p;
  p.prmAppName = "Notepad";
  p.prmLocation = "C:\\Windows\\notepad.exe";
  p.prmWorkDir = "C:\\Users";
  p.prmWidth = 800;
  p.prmHeight = 600;
  p.prmServer = "127.0.0.1";
  p.prmPort = 41000;
  p.prmUserName = "anna";
  p.prmDomain = "CORP";
  p.prmRedir[0] = p.prmRedir[2] = p.prmRedir[4] = true;
  p.Options = ReadRdpOptions(TDBMng());
  return p;
}

// Everything after the sign-in entries that both types share, with the store's defaults.
const char* const kMiddle[] = {
    "audiomode:i:0",
    "disable wallpaper:i:1",
    "disable full window drag:i:1",
    "disable menu anims:i:1",
    "disable themes:i:1",
    "bitmapcachepersistenable:i:0",
    "keyboardhook:i:2",
    "connect to console:i:0",
    "smart sizing:i:1",
    "audiocapturemode:i:0",
    "compression:i:1",
    "videoplaybackmode:i:1",
    "disable cursor setting:i:0",
    "allow font smoothing:i:1",
    "allow desktop composition:i:0",
    "redirectdirectx:i:1",
    "autoreconnection enabled:i:0",
    "negotiate security layer:i:1",
    "remoteapplicationcmdline:s:",
    "shell working directory:s:",
    "gatewayhostname:s:",
    "gatewayprofileusagemethod:i:0",
    "promptcredentialonce:i:0",
    "use redirection server name:i:0",
    "networkautodetect:i:1",
    "bandwidthautodetect:i:1",
    "enableworkspacereconnect:i:0",
    "enablecredsspsupport:i:1",
    "use multimon:i:0",
    "span monitors:i:0",
};

TEST(AppRdpFile, OlderServerFileByteForByte) {
  std::string middle;
  for (const char* l : kMiddle) middle += std::string(l) + "\r\n";
  const std::string expected =
      Crlf({"screen mode id:i:1", "desktopwidth:i:800", "desktopheight:i:600",
            "remoteapplicationmode:i:0", "prompt for credentials:i:0",
            "remoteapplicationprogram:s:C:\\Windows\\notepad.exe",
            "remoteapplicationname:s:Notepad", "alternate shell:s:C:\\Windows\\notepad.exe",
            "remoteapplicationexpandworkingdir:s:C:\\Users", "full address:s:127.0.0.1:41000",
            "username:s:anna", "domain:s:CORP", "session bpp:i:24", "redirectdrives:i:1",
            "redirectprinters:i:0", "redirectcomports:i:1", "redirectsmartcards:i:0",
            "redirectclipboard:i:1", "redirectposdevices:i:0"}) +
      middle +
      Crlf({"connection type:i:2", "gatewayusagemethod:i:4", "gatewaycredentialssource:i:4",
            "autoreconnect max retries:i:1", "disableremoteappcapscheck:i:1",
            "disableconnectionsharing:i:0", "authentication level:i:0",
            "remoteapplicationexpandworkingdir:i:C:\\Users"});
  EXPECT_EQ(BuildAppRdpFileText(Notepad(), ""), expected);
}

TEST(AppRdpFile, NewerServerFileByteForByte) {
  TWinAppParams p = Notepad();
  p.prmServerType = APP_SERVER_REMOTE_APP;
  p.prmWorkDir.clear();
  p.prmPass = "pw";
  p.prmDomain.clear();
  p.prmPlugins = "/usr/lib/a.so,/usr/lib/b.so";
  for (bool& r : p.prmRedir) r = false;
  // Integers the desktop file cuts to a byte go whole into this one; the audio mode does not.
  p.Options.Set(TRdpOption::ConnectionType, 300);
  p.Options.Set(TRdpOption::AuthenticationLevel, 258);
  p.Options.Set(TRdpOption::AudioMode, 258);
  std::string middle;
  for (const char* l : kMiddle) middle += std::string(l) + "\r\n";
  middle.replace(0, std::string("audiomode:i:0").size(), "audiomode:i:2");
  const std::string expected =
      Crlf({"remoteapplicationmode:i:1", "prompt for credentials:i:0",
            "remoteapplicationprogram:s:C:\\Windows\\notepad.exe",
            "remoteapplicationname:s:Notepad", "alternate shell:s:C:\\Windows\\notepad.exe",
            "remoteapplicationexpandworkingdir:s:", "full address:s:127.0.0.1:41000",
            "username:s:anna", "password 51:b:0A1B",
            "devicestoredirect:s:/usr/lib/a.so,/usr/lib/b.so", "session bpp:i:24",
            "redirectdrives:i:0", "redirectprinters:i:0", "redirectcomports:i:0",
            "redirectsmartcards:i:0", "redirectclipboard:i:0", "redirectposdevices:i:0"}) +
      middle +
      Crlf({"connection type:i:300", "gatewayusagemethod:i:4", "gatewaycredentialssource:i:4",
            "autoreconnect max retries:i:1", "disableremoteappcapscheck:i:1",
            "disableconnectionsharing:i:0", "authentication level:i:258"});
  EXPECT_EQ(BuildAppRdpFileText(p, "0A1B"), expected);
}

TEST(AppRdpFile, SizeEntriesFollowTheServerTypeTheStoreAndPrintScreenProtection) {
  struct TRow {
    int Type;
    bool ValidSize;
    bool PrtScreen;
    int Width, Height;
    std::string Head;  // the file up to its "remoteapplicationmode" entry
  } rows[] = {
      {1, false, false, 800, 600,
       Crlf({"screen mode id:i:1", "desktopwidth:i:800", "desktopheight:i:600"})},
      {1, false, false, -1, 600, Crlf({"screen mode id:i:2"})},
      {1, false, false, 800, -1, Crlf({"screen mode id:i:2"})},
      {1, false, true, 800, 600, Crlf({"screen mode id:i:2"})},
      {2, false, false, 800, 600, ""},
      {2, true, false, 800, 600,
       Crlf({"screen mode id:i:1", "desktopwidth:i:800", "desktopheight:i:600"})},
      {2, true, true, 800, 600, Crlf({"screen mode id:i:2"})},
  };
  for (const TRow& r : rows) {
    TWinAppParams p = Notepad();
    p.prmServerType = r.Type;
    p.prmValidAppSize = r.ValidSize;
    p.prmDisablePrtScreen = r.PrtScreen;
    p.prmWidth = r.Width;
    p.prmHeight = r.Height;
    const std::string text = BuildAppRdpFileText(p, "");
    const std::string mode = "remoteapplicationmode:i:" + std::to_string(r.Type == 2 ? 1 : 0);
    EXPECT_EQ(text.substr(0, text.find("remoteapplicationmode:i:")), r.Head)
        << r.Type << r.ValidSize << r.PrtScreen << r.Width << r.Height;
    EXPECT_NE(text.find(mode + "\r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace vantrel::test
