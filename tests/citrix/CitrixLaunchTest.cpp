#include "citrix/CitrixLaunch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalogue/DPP.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/CitrixClient.h"
#include "citrix/CitrixDoubles.h"
#include "config/DbMng.h"
#include "diag/Xml.h"
#include "platform/Dialogs.h"
#include "platform/PrivateFiles.h"
#include "platform/ProcessSpawn.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A farm of two servers, an application of it, and a stand-in client program that keeps its
// arguments and a copy of the settings file it was given (the real client deletes it).
class CitrixLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Root = test::TestRoot() + "/citrix-launch";
    fs::remove_all(Root);
    fs::create_directories(Root + "/client/pkginf");
    const std::string program = Root + "/client/wfica";
    std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << Root << "/args\ncp \"$1\" "
                           << Root << "/copy.ini\n";
    chmod(program.c_str(), 0755);
    SetClientVersion("24.2.0.65");
    Sources.DefaultProgram = program;
    FindCitrixClient(Sources);

    TXmlDoc doc = TXmlDoc::Parse("<Farm FarmName=\"F\" Servers=\"xa1,xa2,\">2</Farm>");
    Farm = std::make_unique<TXenAppFarm>(doc.Root());
    App.SetFarm(Farm.get());
    App.SetName("Word");
    App.SetSeqNo("Word 2");
    Service.AppAnswers["xa2"] = {kCitrixOK, "10.0.0.9:1494", "*:2598", "A1", "B2:C3"};
  }
  void SetClientVersion(const std::string& prmVersion) {
    std::ofstream(Root + "/client/pkginf/Ver.core.x86_64") << prmVersion << "\n";
  }
  void Launch() { LaunchApp(App, Tunnel, DPP, Store, "jo", "s3cret", "CORP", Env); }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& shown : Dialogs.Shown()) texts.push_back(shown.Text);
    return texts;
  }

  std::string Root;
  TIcaClientSources Sources;
  std::unique_ptr<TXenAppFarm> Farm;
  TXenApp App;
  TDPP DPP;
  TDBMng Store;
  test::TRecordingTunnel Tunnel;
  test::TScriptedService Service;
  TScriptedDialogs Dialogs;
  int Started = 0;
  TCitrixLaunchEnv Env{Service, Dialogs, [this](pid_t prmPid) {
                         int code = -1;
                         EXPECT_TRUE(WaitProcess(prmPid, nullptr, 5000, code));
                         EXPECT_EQ(code, 0);
                         ++Started;
                       }};
};

TEST_F(CitrixLaunchTest, ApplicationGoesThroughCGPAndDirectListenersWithTheTicket) {
  Launch();
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(Started, 1);
  EXPECT_EQ(Service.TicketRequests, std::vector<std::string>{"xa2 A1:B2:C3"});
  ASSERT_EQ(Tunnel.Listens.size(), 2u);
  EXPECT_EQ(Tunnel.Listens[0].Dest, "10.0.0.9:2598");
  EXPECT_EQ(Tunnel.Listens[1].Dest, "10.0.0.9:1494");
  EXPECT_FALSE(Tunnel.Listens[1].Filter);
  ASSERT_TRUE(Tunnel.Listens[0].Filter);
  std::string piece = "127.0.0.1:50123";
  EXPECT_TRUE(Tunnel.Listens[0].Filter(reinterpret_cast<uint8_t*>(piece.data()), 15));
  EXPECT_EQ(Tunnel.Logs, std::vector<std::string>{"Starting Word on 10.0.0.9:1494"});

  const std::string file = PrivateTempFolder() + "/Word 2.ini";
  EXPECT_EQ(ReadAll(Root + "/args"), file + "\n") << "the settings file is the one argument";
  const std::string ini = ReadAll(Root + "/copy.ini");
  EXPECT_NE(ini.find("\r\nAddress=127.0.0.1:50002\r\nLogonTicketType=CTXS1\r\nLogonTicket=TKT\r\n"),
            std::string::npos)
      << ini;
  EXPECT_EQ(ini.find("s3cret"), std::string::npos);
  EXPECT_EQ(ini.find("Domain="), std::string::npos) << "the ticket is the credential";
}

TEST_F(CitrixLaunchTest, OlderClientsWithoutTicketGoDirect) {
  SetClientVersion("7.0");
  Service.TicketCode = kCitrixNoReply;
  Launch();
  ASSERT_EQ(Tunnel.Listens.size(), 1u);
  EXPECT_EQ(Tunnel.Listens[0].Dest, "10.0.0.9:1494");
  const std::string ini = ReadAll(Root + "/copy.ini");
  EXPECT_NE(ini.find("\r\nUsername=jo\r\nDomain=CORP\r\nAddress=127.0.0.1:50001\r\n"),
            std::string::npos)
      << ini;
  EXPECT_EQ(ini.find("LogonTicket"), std::string::npos);
}

TEST_F(CitrixLaunchTest, FailuresEndTheLaunchWithTheirBox) {
  struct TCase {
    const char* Name;
    uint8_t LastCode;  // xa2's answer
    const char* Address;
    bool Refuse;
    bool Client;
    const char* Box;  // "" : none
  } cases[] = {
      {"bad credentials", kCitrixFailedCredentials, "", false, true,
       "No server was found to run the application\n\rBad credentials"},
      {"unknown code", 9, "", false, true,
       "No server was found to run the application\n\rUnknown error"},
      {"no listener", kCitrixOK, "10.0.0.9:1494", true, true,
       "Failed to start application, could not open a connection to server *:2598"},
      {"no client", kCitrixOK, "10.0.0.9:1494", false, false,
       "Failed to start local client, please check the path specified"},
      {"server 0.0.0.0", kCitrixOK, "", false, true, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    SetUp();
    fs::remove(PrivateTempFolder() + "/Word 2.ini");
    Service.AppAnswers["xa2"].Code = c.LastCode;
    Service.AppAnswers["xa2"].ServerAddress = c.Address;
    Tunnel.Refuse = c.Refuse;
    Tunnel.Resolved = 0x0B00000A;  // any name would resolve: an empty one must not be asked
    if (!c.Client) fs::remove(Sources.DefaultProgram);
    FindCitrixClient(Sources);
    TScriptedDialogs fresh;
    TCitrixLaunchEnv env{Service, fresh, Env.WatchClient};
    LaunchApp(App, Tunnel, DPP, Store, "jo", "s3cret", "CORP", env);
    std::vector<std::string> boxes;
    for (const auto& shown : fresh.Shown()) boxes.push_back(shown.Text);
    EXPECT_EQ(boxes, *c.Box ? std::vector<std::string>{c.Box} : std::vector<std::string>{});
    EXPECT_EQ(Started, 0);
    EXPECT_FALSE(fs::exists(PrivateTempFolder() + "/Word 2.ini")) << "no ticket left behind";
  }
}

TEST_F(CitrixLaunchTest, DesktopResolvesItsServerAndPassesTheWholeTag) {
  Service.Desktop.ServerAddress = "desk.corp";
  Service.Desktop.TicketTag = "X";
  Tunnel.Resolved = 0x0B00000A;  // 10.0.0.11 in network byte order
  LaunchXenDesktop("Win10", "My desktop", "ddc:8080", Tunnel, Store, DPP, "jo", "s3cret", "CORP",
                   Env);
  ASSERT_EQ(Started, 1);
  EXPECT_EQ(Service.TicketRequests, std::vector<std::string>{"ddc:8080 X"});
  ASSERT_EQ(Tunnel.Listens.size(), 1u);
  EXPECT_EQ(Tunnel.Listens[0].Dest, "10.0.0.11:1494");
  EXPECT_EQ(ReadAll(Root + "/args"), PrivateTempFolder() + "/Win10.ini\n");
  EXPECT_NE(ReadAll(Root + "/copy.ini").find("\r\nLogonTicket=TKT\r\n"), std::string::npos);

  // Without a server address, or with a refused request, nothing opens and nothing shows.
  Service.Desktop.ServerAddress.reset();
  LaunchXenDesktop("Win10", "", "ddc", Tunnel, Store, DPP, "jo", "s3cret", "CORP", Env);
  Service.DesktopCode = kCitrixNoReply;
  Service.Desktop.ServerAddress = "10.0.0.12";
  LaunchXenDesktop("Win10", "", "ddc", Tunnel, Store, DPP, "jo", "s3cret", "CORP", Env);
  EXPECT_EQ(Tunnel.Listens.size(), 1u);
  EXPECT_EQ(Started, 1);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
}  // namespace vantrel
