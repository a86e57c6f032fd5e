#include "citrix/IcaFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "catalogue/DPP.h"
#include "config/DbMng.h"
#include "diag/Xml.h"
#include "platform/PrivateFiles.h"

namespace vantrel {
namespace {

const char* const kClientSection =
    "[WFClient]\r\nClientName=pc1\r\nRemoveICAFile=yes\r\n"
    "COMAllowed=on\r\nCDMAllowed=on\r\nCPMAllowed=off\r\nPOSDeviceAllowed=off\r\n"
    "ClipboardAllowed=1\r\nVSLAllowed=on\r\n[ApplicationServers]\r\n";

TIcaClientSettings Permissions() {
  TIcaClientSettings client;
  client.ClientName = "pc1";
  client.COMAllowed = client.CDMAllowed = client.ClipboardAllowed = true;
  return client;
}

TIcaAppFile FullApp() {
  TIcaAppFile f;
  f.Client = Permissions();
  f.Name = "Word";
  f.Sound = true;
  f.UserName = "jo";
  f.Domain = "CORP";
  f.Address = "127.0.0.1:50001";
  f.TicketType = "CTXS1";
  f.Ticket = "T1";
  f.LaunchReference = "R1";
  f.Enc = "EncRC5-128";
  f.Color = 24;
  f.Location = "Word";
  f.Width = 800;
  f.Height = 600;
  return f;
}

TEST(IcaFileTest, ApplicationFileHasTheLinesInOrder) {
  EXPECT_EQ(BuildAppIcaFile(FullApp()),
            std::string(kClientSection) +
                "Word=\r\n[Word]\r\nClientAudio=On\r\nTransportDriver=TCP/IP\r\n"
                "WinStationDriver=ICA 3.0\r\nLauncher=WI\r\nUsername=jo\r\n"
                "Address=127.0.0.1:50001\r\nLogonTicketType=CTXS1\r\nLogonTicket=T1\r\n"
                "LaunchReference=R1\r\nEncryptionLevelSession=EncRC5-128\r\nDesiredColor=24\r\n"
                "InitialProgram=#Word\r\nDesiredWinType=5\r\nDesiredHRES=800\r\n"
                "DesiredVRES=600\r\n");

  // Independent client settings, no ticket (the domain then goes in), optional lines left out.
  TIcaAppFile bare = FullApp();
  bare.Client.Independently = true;
  bare.Sound = false;
  bare.Ticket = bare.LaunchReference = bare.Enc = bare.Location = "";
  bare.Width = -1;
  bare.Height = 75;
  EXPECT_EQ(BuildAppIcaFile(bare),
            "[WFClient]\r\nClientName=pc1\r\nRemoveICAFile=yes\r\nVSLAllowed=on\r\n"
            "[ApplicationServers]\r\nWord=\r\n[Word]\r\nClientAudio=Off\r\n"
            "TransportDriver=TCP/IP\r\nWinStationDriver=ICA 3.0\r\nLauncher=WI\r\n"
            "Username=jo\r\nDomain=CORP\r\nAddress=127.0.0.1:50001\r\nDesiredColor=24\r\n"
            "DesiredWinType=6\r\nScreenPercent=75\r\n");
}

TEST(IcaFileTest, WindowLinesFollowSizeThenApplicationSettings) {
  struct TCase {
    int Width, Height;
    bool IsDesktop;
    int WinType, WinPercent;
    const char* Tail;
  } cases[] = {
      {1024, -1, true, 1, 0, "DesiredWinType=5\r\nDesiredHRES=1024\r\nDesiredVRES=-1\r\n"},
      {-1, 50, true, 1, 0, "DesiredWinType=6\r\nScreenPercent=50\r\n"},
      {-1, -1, true, 3, 0, "DesiredWinType=6\r\nScreenPercent=100\r\n"},
      {-1, -1, false, 1, 0, "DesiredWinType=6\r\nScreenPercent=100\r\n"},
      {-1, -1, false, 2, 40, "DesiredWinType=6\r\nScreenPercent=40\r\n"},
      {-1, -1, false, 3, 40,
       "DesiredWinType=8\r\nTWIMode=On\r\nDesiredHRES=4294967295\r\nDesiredVRES=4294967295\r\n"},
  };
  for (const TCase& c : cases) {
    TIcaAppFile f = FullApp();
    f.Location = "";
    f.Width = c.Width;
    f.Height = c.Height;
    f.IsDesktop = c.IsDesktop;
    f.WinType = c.WinType;
    f.WinPercent = c.WinPercent;
    const std::string text = BuildAppIcaFile(f);
    const std::string head = "DesiredColor=24\r\n";
    EXPECT_EQ(text.substr(text.find(head) + head.size()), c.Tail) << c.Tail;
  }
}

TEST(IcaFileTest, DesktopFileHasTheLinesInOrder) {
  TIcaDesktopFile f;
  f.Client = Permissions();
  f.Identifier = "Win10";
  f.Address = "127.0.0.1:50002";
  f.Color = 8;
  f.TicketType = "CTXS1";
  f.Ticket = "T2";
  f.UserName = "jo";
  f.Domain = "CORP";
  const std::string head = std::string(kClientSection) +
                           "Win10=\r\n[Win10]\r\nAddress=127.0.0.1:50002\r\n"
                           "TransportDriver=TCP/IP\r\nWinStationDriver=ICA 3.0\r\nLauncher=WI\r\n"
                           "AutologonAllowed=ON\r\nConnectionBar=1\r\nBrowserProtocol=HTTPonTCP\r\n"
                           "InitialProgram=#Win10\r\nDesiredColor=8\r\nTWIMode=Off\r\n"
                           "DesiredHRES=4294967295\r\nDesiredVRES=4294967295\r\n";
  const std::string tail = "EncryptionLevelSession=EncRC5-128\r\nTitle=My PC\r\n";
  EXPECT_EQ(BuildDesktopIcaFile(f), head + "LogonTicketType=CTXS1\r\nLogonTicket=T2\r\n" + tail);
  f.Ticket = "";
  EXPECT_EQ(BuildDesktopIcaFile(f), head + "Username=jo\r\nDomain=CORP\r\n" + tail);
}

TEST(IcaFileTest, ColourValueMapsTheStoreCode) {
  const int cases[][3] = {{0, 24, 24}, {-1, 8, 8}, {1, 24, 2}, {2, 24, 4},
                          {3, 24, 8},  {4, 24, 0}, {4, 8, 0}};
  for (const auto& c : cases) EXPECT_EQ(IcaColorValue(c[0], c[1]), c[2]) << c[0];
}

TEST(IcaFileTest, ClientSettingsComeFromTheFlagsUnlessIndependent) {
  TDPP dpp;
  for (int flag : {TDPP::FLAG_REDIR_DRIVES, TDPP::FLAG_REDIR_PORTS, TDPP::FLAG_REDIR_POS})
    dpp.SetFlag(flag, 1);
  dpp.SetFlag(TDPP::FLAG_REDIR_PRINTERS, 0);
  TDBMng store;
  TIcaClientSettings client = ReadIcaClientSettings(store, dpp, "pc9", "LaunchDesktop");
  EXPECT_EQ(client.ClientName, "pc9");
  EXPECT_FALSE(client.Independently);
  EXPECT_TRUE(client.CDMAllowed && client.COMAllowed && client.POSDeviceAllowed);
  EXPECT_FALSE(client.CPMAllowed || client.ClipboardAllowed) << "off, and unset defaults to off";

  TXmlDoc doc = TXmlDoc::Parse(
      "<Settings><citrix_independently>1</citrix_independently>"
      "</Settings>");
  store.LoadXML(doc.Root());
  client = ReadIcaClientSettings(store, dpp, "pc9", "LaunchDesktop");
  EXPECT_TRUE(client.Independently);
  EXPECT_FALSE(client.CDMAllowed);
}

TEST(IcaFileTest, SettingsFileIsPrivate) {
  const std::string path = WriteIcaSettingsFile("a/b", "x\r\n");
  ASSERT_EQ(path, PrivateTempFolder() + "/a_b.ini");
  struct stat file {
  }, folder{};
  ASSERT_EQ(stat(path.c_str(), &file), 0);
  ASSERT_EQ(stat(PrivateTempFolder().c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(file.st_size, 3);
}

}  // namespace
}  // namespace vantrel
