// Installers the gateway offers at start-up: a Windows package or installer is never run (nor
// fetched, when it is no part of the RDP client check); another installer runs only after the user
// said yes to it by name and source, and each offer is put to the user once.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "SessionTestKit.h"
#include "support/TestEnv.h"

namespace vantrel::test::mng {
namespace {

constexpr const char* kRdpFailed = "Failed to install the RDP client";
constexpr const char* kCitrixFailed = "Failed to install the XenApp client";

class ClientChecksTest : public TSessionTest {
 protected:
  void SetUp() override { std::filesystem::remove(TestRoot() + "/config/vantrel/installers"); }

  // A start-up whose store offers the Citrix client at prmCitrixURL, served as prmBody; true
  // when the gateway was told the install failed.
  bool StartOffering(const std::string& prmCitrixURL, const std::string& prmBody = "MZ") {
    m_Mng.reset();
    m_Tunnel = std::make_shared<TFakeTunnelState>();
    m_Server.Clear();
    ScriptGoodServer();
    m_Server.Script(prmCitrixURL.substr(prmCitrixURL.find('/', 7)), {{true, prmBody}});
    m_DB.Load("*http://gw/agent/rdp.cab," + prmCitrixURL + ";");
    Make();
    EXPECT_TRUE(Start());
    for (const auto& [level, msg] : TunnelLogs())
      if (msg == kCitrixFailed) return true;
    return false;
  }
  size_t Fetched(const std::string& prmPath) { return m_Server.URLsFor(prmPath).size(); }
};

TEST_F(ClientChecksTest, TheRdpPackageIsAWindowsCabinetAndNeverExpandedOrRun) {
  const std::string system = TestRoot() + "/tmp/system";
  std::filesystem::remove_all(system);
  std::filesystem::create_directories(system);
  setenv("VANTREL_SYSTEM_DIR", system.c_str(), 1);
  ScriptGoodServer();
  m_Server.Script("/agent/rdp.cab", {{true, "MSCF"}});
  m_DB.Load("*http://gw/agent/rdp.cab;");
  Make();
  m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(false, ""));
  ASSERT_TRUE(Start());
  unsetenv("VANTREL_SYSTEM_DIR");
  EXPECT_TRUE(std::filesystem::is_empty(system));
  EXPECT_EQ(m_UI.Reports("E"), TReports{"E4:"});
  const auto logs = TunnelLogs();
  EXPECT_NE(std::find(logs.begin(), logs.end(), std::make_pair(6, std::string(kRdpFailed))),
            logs.end());
}

TEST_F(ClientChecksTest, WindowsInstallersAreNeverFetchedOrRun) {
  for (const char* name : {"setup.exe", "CitrixReceiver.MSI", "ica.cab"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(StartOffering(std::string("http://gw/ica/") + name));
    EXPECT_EQ(Fetched("/ica/"), 0u);
    EXPECT_TRUE(m_Dialogs.Shown().empty());
  }
}

TEST_F(ClientChecksTest, AnInstallerRunsOnlyWithTheUsersYesAndIsOfferedOnce) {
  const std::string marker = TestRoot() + "/tmp/installer.ran";
  std::filesystem::remove(marker);
  const std::string script = "#!/bin/sh\necho ran > '" + marker + "'\n";
  struct {
    int Answer;
    bool Runs;
  } cases[] = {{IDNO, false}, {IDYES, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Answer);
    SetUp();
    const size_t shown = m_Dialogs.Shown().size();
    m_Dialogs.PushResult(c.Answer);
    EXPECT_EQ(StartOffering("http://gw.example/ica/client.run", script), !c.Runs);
    ASSERT_EQ(m_Dialogs.Shown().size(), shown + 1);
    const std::string asked = m_Dialogs.Shown().back().Text;
    EXPECT_NE(asked.find("\"client.run\""), std::string::npos) << asked;
    EXPECT_NE(asked.find("gw.example"), std::string::npos) << asked;
    EXPECT_EQ(Fetched("/ica/client.run"), c.Runs ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(marker), c.Runs);
    std::filesystem::remove(marker);

    // The next start-up neither asks nor runs it again, and keeps the outcome.
    EXPECT_EQ(StartOffering("http://gw.example/ica/client.run", script), !c.Runs);
    EXPECT_EQ(m_Dialogs.Shown().size(), shown + 1);
    EXPECT_EQ(Fetched("/ica/client.run"), 0u);
    EXPECT_FALSE(std::filesystem::exists(marker));
  }
  // Only its owner can read what was answered.
  EXPECT_EQ(std::filesystem::status(TestRoot() + "/config/vantrel/installers").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ClientChecksTest, AnInstalledIcaClientIsNeverOffered) {
  const std::string client = TestRoot() + "/tmp/wfica";
  std::ofstream(client) << "#!/bin/sh\n";
  std::filesystem::permissions(client, std::filesystem::perms::owner_all);
  setenv("VANTREL_ICA_CLIENT", client.c_str(), 1);
  const bool failed = StartOffering("http://gw.example/ica/client.run", "#!/bin/sh\n");
  unsetenv("VANTREL_ICA_CLIENT");
  EXPECT_FALSE(failed);
  EXPECT_TRUE(m_Dialogs.Shown().empty());
  EXPECT_EQ(Fetched("/ica/client.run"), 0u);
}

}  // namespace
}  // namespace vantrel::test::mng
