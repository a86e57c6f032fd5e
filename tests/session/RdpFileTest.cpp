// The connection file byte for byte, its conditional entries, the protected password entry, and
// reading files back in the encodings a client may meet.
#include "session/RdpFile.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

TWinDesktopParams SampleParams() {
  TWinDesktopParams p;
  p.prmDeskName = "desk:3390";
  p.prmServer = "127.0.0.1";
  p.prmPort = 50123;
  p.prmUserName = "anna";
  p.prmDomain = "CORP";
  p.prmPlugins = "/usr/lib/a.so,/usr/lib/b.so";
  p.prmWidth = 1024;
  p.prmHeight = 768;
  p.prmColorDepth = 16;
  p.prmRedirDrives = true;
  p.prmRedirClipboard = true;
  p.prmBitmapCaching = true;
  p.Options.Set(TRdpOption::AudioMode, 0x102);  // low byte 2
  p.Options.Set(TRdpOption::MonitorSpan, true);
  p.Options.Set(TRdpOption::SmartSizing, true);
  p.Options.Set(TRdpOption::Enablecredsspsupport, true);
  p.Options.Set(TRdpOption::NegotiateSecurityLayer, true);
  p.Options.Set(TRdpOption::ConnectionType, 0x1FF);  // low byte 255
  p.Options.Set(TRdpOption::Gatewayusagemethod, 4);
  p.Options.Set(TRdpOption::Gatewaycredentialssource, 0x104);  // low byte 4
  p.Options.Set(TRdpOption::AutoreconnectMaxRetries, 20);
  p.Options.Set(TRdpOption::KeyboardHook, 300);        // written whole
  p.Options.Set(TRdpOption::AuthenticationLevel, -1);  // low byte 255
  p.prmWorkDir = "C:\\work";
  p.Options.Set(TRdpOption::Wallpaper, true);
  p.Options.Set(TRdpOption::Theme, true);
  return p;
}

TEST(RdpFile, EveryEntryInOrderWithCrLf) {
  const std::string expected =
      "screen mode id:i:1\r\n"
      "desktopwidth:i:1024\r\n"
      "desktopheight:i:768\r\n"
      "full address:s:127.0.0.1:50123\r\n"
      "username:s:anna\r\n"
      "password 51:b:0A1B\r\n"
      "domain:s:CORP\r\n"
      "devicestoredirect:s:/usr/lib/a.so,/usr/lib/b.so\r\n"
      "session bpp:i:16\r\n"
      "displayconnectionbar:i:1\r\n"
      "span monitors:i:1\r\n"
      "use multimon:i:0\r\n"
      "smart sizing:i:1\r\n"
      "enablecredsspsupport:i:1\r\n"
      "audiocapturemode:i:0\r\n"
      "compression:i:0\r\n"
      "videoplaybackmode:i:0\r\n"
      "allow font smoothing:i:0\r\n"
      "allow desktop composition:i:0\r\n"
      "disable cursor setting:i:0\r\n"
      "redirectdirectx:i:0\r\n"
      "autoreconnection enabled:i:0\r\n"
      "prompt for credentials:i:0\r\n"
      "negotiate security layer:i:1\r\n"
      "gatewayprofileusagemethod:i:0\r\n"
      "promptcredentialonce:i:0\r\n"
      "connection type:i:255\r\n"
      "gatewayusagemethod:i:4\r\n"
      "gatewaycredentialssource:i:4\r\n"
      "autoreconnect max retries:i:20\r\n"
      "use redirection server name:i:0\r\n"
      "networkautodetect:i:0\r\n"
      "bandwidthautodetect:i:0\r\n"
      "enableworkspacereconnect:i:0\r\n"
      "alternate shell:s:\r\n"
      "shell working directory:s:\r\n"
      "gatewayhostname:s:\r\n"
      "redirectdrives:i:1\r\n"
      "redirectprinters:i:0\r\n"
      "redirectcomports:i:0\r\n"
      "redirectsmartcards:i:0\r\n"
      "redirectclipboard:i:1\r\n"
      "redirectposdevices:i:0\r\n"
      "audiomode:i:2\r\n"
      "connect to console:i:0\r\n"
      "disable wallpaper:i:1\r\n"
      "disable full window drag:i:0\r\n"
      "disable menu anims:i:0\r\n"
      "disable themes:i:1\r\n"
      "bitmapcachepersistenable:i:1\r\n"
      "remoteapplicationexpandworkingdir:i:C:\\work\r\n"
      "keyboardhook:i:300\r\n"
      "authentication level:i:255\r\n"
      "remoteapplicationmode:i:0\r\n";
  TWinDesktopParams p = SampleParams();
  p.prmPass = "secret";
  EXPECT_EQ(BuildRdpFileText(p, "0A1B"), expected);
}

TEST(RdpFile, ConditionalEntries) {
  TWinDesktopParams p = SampleParams();
  p.prmUserName.clear();
  p.prmDomain.clear();
  p.prmPlugins.clear();
  p.prmColorDepth = 0;
  p.prmWorkDir.clear();
  std::string text = BuildRdpFileText(p, "");
  EXPECT_NE(text.find("\r\nusername:s:\r\n"), std::string::npos);
  for (const char* absent :
       {"password 51", "domain:s:", "devicestoredirect", "session bpp", "expandworkingdir"})
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;

  // A password whose protection failed leaves the entry out; so does no password at all.
  p.prmPass = "pw";
  EXPECT_EQ(BuildRdpFileText(p, "").find("password 51"), std::string::npos);
  p.prmPass.clear();
  EXPECT_EQ(BuildRdpFileText(p, "ABCD").find("password 51"), std::string::npos);

  // Full screen by height -1: no size entries.
  p.prmHeight = -1;
  text = BuildRdpFileText(p, "");
  EXPECT_EQ(text.substr(0, 20), "screen mode id:i:2\r\n");
  EXPECT_EQ(text.find("desktopwidth"), std::string::npos);
  EXPECT_NE(text.find("displayconnectionbar:i:1\r\n"), std::string::npos);
}

TEST(RdpFile, PrintScreenProtectionForcesFullScreenWithoutBar) {
  TWinDesktopParams p = SampleParams();
  p.prmDisablePrtScreen = true;
  std::string text = BuildRdpFileText(p, "");
  EXPECT_EQ(text.substr(0, 20), "screen mode id:i:2\r\n");
  EXPECT_EQ(text.find("desktopwidth"), std::string::npos);
  EXPECT_EQ(text.find("desktopheight"), std::string::npos);
  EXPECT_NE(text.find("displayconnectionbar:i:0\r\n"), std::string::npos);
}

TEST(RdpFile, LineBreaksInValuesCannotAddEntries) {
  TWinDesktopParams p = SampleParams();
  p.prmUserName = "anna\r\nalternate shell:s:evil";
  p.prmDomain = "CORP\n";
  std::string text = BuildRdpFileText(p, "");
  EXPECT_NE(text.find("username:s:annaalternate shell:s:evil\r\n"), std::string::npos);
  EXPECT_NE(text.find("domain:s:CORP\r\n"), std::string::npos);
  size_t lines = 0;
  for (const TRdpEntry& e : ParseRdpFile(text)) lines += e.Name == "alternate shell";
  EXPECT_EQ(lines, 1u);
}

TEST(RdpFile, PasswordEntryIsUpperHexOfAProtectedUtf16Blob) {
  for (const std::string& pw :
       {std::string("s3cret"), std::string("p\xC3\xA4ss \xF0\x9F\x94\x91")}) {
    std::string hex = CryptRDPPassword(pw);
    ASSERT_FALSE(hex.empty());
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    std::string back;
    ASSERT_TRUE(UncryptRDPPassword(hex, back));
    EXPECT_EQ(back, pw);
  }
  std::string back = "x";
  EXPECT_FALSE(UncryptRDPPassword("ABC", back));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(UncryptRDPPassword("ZZ", back));
  std::string hex = CryptRDPPassword("pw");
  hex[hex.size() - 1] = hex.back() == '0' ? '1' : '0';
  EXPECT_FALSE(UncryptRDPPassword(hex, back));
}

TEST(RdpFile, Utf16Conversions) {
  EXPECT_EQ(Utf8ToUtf16LE("A\xC3\xA9"), std::string("A\0\xE9\0", 4));
  EXPECT_EQ(Utf8ToUtf16LE("\xF0\x9F\x94\x91"), std::string("\x3D\xD8\x11\xDD", 4));
  EXPECT_EQ(Utf16LEToUtf8(std::string("\x3D\xD8\x11\xDD", 4)), "\xF0\x9F\x94\x91");
  // Broken input becomes replacement characters, never a crash or a lost length.
  EXPECT_EQ(Utf8ToUtf16LE("\xC3"), std::string("\xFD\xFF", 2));
  EXPECT_EQ(Utf8ToUtf16LE("\xC0\xAF"), std::string("\xFD\xFF\xFD\xFF", 4));
  EXPECT_EQ(Utf16LEToUtf8(std::string("\x3D\xD8"
                                      "A\0",
                                      4)),
            "\xEF\xBF\xBD"
            "A");
  EXPECT_EQ(Utf16LEToUtf8(std::string("A", 1)), "\xEF\xBF\xBD");
}

TEST(RdpFile, ReadsUtf16Utf8AndSkipsMalformedLines) {
  const std::string plain =
      "full address:s:127.0.0.1:4000\r\nnonsense\r\nx:q:1\r\n:i\r\n"
      "username:s:j\xC3\xB6rg\r\npassword 51:b:AB\nlast:i:7";
  auto check = [](const std::vector<TRdpEntry>& e) {
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].Name, "full address");
    EXPECT_EQ(e[0].Value, "127.0.0.1:4000");
    EXPECT_EQ(e[1].Value, "j\xC3\xB6rg");
    EXPECT_EQ(e[2].Type, 'b');
    EXPECT_EQ(e[3].Value, "7");
  };
  check(ParseRdpFile(plain));
  check(ParseRdpFile("\xEF\xBB\xBF" + plain));
  check(ParseRdpFile("\xFF\xFE" + Utf8ToUtf16LE(plain)));
  EXPECT_TRUE(ParseRdpFile(std::string("\xFF\xFE\x00", 3)).empty());
}

}  // namespace
}  // namespace vantrel::test
