// The reference portal page in a real headless Chromium with the Vantrel extension: the page
// starts vantreltcs through native messaging, answers the verification question in the page,
// lists the desktops and launches one whose (fake) RDP client moves bytes through the tunnel;
// closing the tab ends the host. A page whose origin is not allowed is refused before the host
// does anything.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "browser/chromium_driver.h"
#include "diag/TextCodecs.h"
#include "integration/host_session.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

constexpr int kPageTimeoutMs = 60000;

class PortalInBrowser : public ::testing::Test, protected THostSession {
 protected:
  void SetUp() override {
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((ScenarioDir() / "avail-demo.json").string());
    testpeer::TGatewayScenario gw = testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO);
    gw.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(m_Desktop.Start());
    StartPeers(std::move(avail), std::move(gw));
    m_Avail->UpdateScenario([&](testpeer::TAvailScenario& prmSc) {
      testpeer::SetPortalGateway(prmSc, "127.0.0.1", m_Gateway->Port());
    });
    m_Portal = "127.0.0.1:" + std::to_string(m_Avail->Port());
    // Only the peer's own address is allowed; "localhost" names the same server as another
    // origin.
    setenv("VANTREL_ALLOWED_PORTALS", ("http://" + m_Portal).c_str(), 1);
    m_Result = ::testing::TempDir() + "/browser-client.result";
    fs::remove(m_Result);
    setenv("HOST_TEST_RESULT", m_Result.c_str(), 1);
    setenv("VANTREL_RDP_CLIENT", WriteClient("browser-fake-rdp", kFakeRdpClient).c_str(), 1);
    // The hosts this test's browser starts carry this line in their environment.
    const std::string run = std::to_string(getpid()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    setenv("VANTREL_TEST_BROWSER_RUN", run.c_str(), 1);
    m_Marker = "VANTREL_TEST_BROWSER_RUN=" + run;
    m_Browser =
        std::make_unique<TChromium>(::testing::TempDir() + "/chromium-" + std::to_string(getpid()),
                                    BinDir() + "/../browser/chromium", BinDir() + "/vantreltcs");
    ASSERT_TRUE(m_Browser->Started());
  }

  // The portal page in a new tab, once the extension's object is in it.
  std::string OpenPortal(const std::string& prmHostPort, std::string* prmTarget = nullptr) {
    std::string tab = m_Browser->OpenTab("http://" + prmHostPort + "/portal", prmTarget);
    EXPECT_TRUE(m_Browser->WaitFor(tab, "!document.getElementById('bridge').hidden", 20000))
        << "the extension's VantrelTCS did not reach the page";
    return tab;
  }

  int Hosts() const {
    return CountProcesses(BinDir() + "/vantreltcs", "chrome-extension://", m_Marker);
  }

  testpeer::TTcpTestServer m_Desktop{testpeer::TTcpServerMode::Echo};
  std::unique_ptr<TChromium> m_Browser;
  std::string m_Portal, m_Result;
  std::string m_Marker;  // the environment line of this test's hosts
};

TEST_F(PortalInBrowser, WholeSessionFromThePageAndClosingTheTabEndsTheHost) {
  std::string target;
  const std::string tab = OpenPortal(m_Portal, &target);
  m_Browser->Eval(tab, "document.getElementById('start').click(), true");
  // The verification rules' question, answered in the page with its first button.
  ASSERT_TRUE(m_Browser->WaitFor(
      tab, "!!document.querySelector('#dialog:not([hidden]) button[data-result=yes]')",
      kPageTimeoutMs));
  EXPECT_EQ(m_Browser->Eval(tab, "document.getElementById('dialog-text').textContent"),
            "Do you accept the demo usage policy?");
  m_Browser->Eval(tab, "document.querySelector('#dialog button[data-result=yes]').click(), true");
  ASSERT_TRUE(m_Browser->WaitFor(tab, "document.getElementById('status').textContent === '6'",
                                 kPageTimeoutMs))
      << m_Browser->Eval(tab, "document.body.innerText").dump();
  ASSERT_TRUE(m_Browser->WaitFor(
      tab, "document.querySelectorAll('#desktops tbody tr').length === 3", kPageTimeoutMs));
  EXPECT_EQ(m_Browser->Eval(tab,
                            "[...document.querySelectorAll('#desktops tbody td:first-child')]"
                            ".map(td => td.textContent).join('|')"),
            "Office desktop|Sleeping desktop|Citrix desktop");
  EXPECT_EQ(Hosts(), 1);
  // The page as a person sees it, kept with the build's other pictures.
  const host::TJson shot = m_Browser->Send("Page.captureScreenshot", {{"format", "png"}}, tab);
  if (shot.contains("data")) {
    const fs::path artifacts = fs::path(BinDir()).parent_path() / "artifacts";
    fs::create_directories(artifacts);
    const TBytes png = Base64Decode(shot["data"].get<std::string>());
    std::ofstream(artifacts / "portal-page.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  }

  m_Browser->Eval(tab, "document.querySelector('#desktops tbody button').click(), true");
  ASSERT_TRUE(m_Desktop.WaitFor([](const auto& c) { return c.Closed >= 1; }, kHostHangGuardMs));
  for (int i = 0; i < 600 && !fs::exists(m_Result); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ifstream in(m_Result);
  std::string line;
  std::getline(in, line);
  EXPECT_NE(line.find("|RDP-HELLO-THROUGH-TUNNEL"), std::string::npos) << line;
  EXPECT_EQ(m_Browser->Eval(tab, "document.getElementById('error').textContent"), "");

  m_Browser->CloseTab(target);
  EXPECT_TRUE(m_Gateway->WaitForSessionsEnded(1, kHostHangGuardMs));
  for (int i = 0; i < 100 && Hosts() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Hosts(), 0);
}

TEST_F(PortalInBrowser, EachSessionIsOneHostEndedByItsCloseOrItsTab) {
  std::string target;
  const std::string tab = OpenPortal(m_Portal, &target);
  const std::string open =
      "VantrelTCS.open({params: {platform: 'Morv', custom_portal: '1'}, dialogs: 'page'})";
  EXPECT_EQ(m_Browser->Eval(tab, "Promise.all([" + open + ", " + open +
                                     "]).then(s => (window.sessions = s, s.length))"),
            2);
  EXPECT_EQ(Hosts(), 2);
  // A call goes to its own host; a member that does not exist is the host's error text.
  EXPECT_EQ(m_Browser->Eval(tab, "sessions[0].get('IsConnected').then(r => r.result)"), 0);
  EXPECT_EQ(m_Browser->Eval(tab, "sessions[1].call('NoSuchMember').catch(e => e.message)"),
            "Unknown member NoSuchMember");
  m_Browser->Eval(tab, "sessions[0].close(), true");
  for (int i = 0; i < 100 && Hosts() > 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Hosts(), 1);
  EXPECT_EQ(m_Browser->Eval(tab, "sessions[0].get('IsConnected').catch(e => e.message)"),
            "session closed: closed by the page");
  m_Browser->CloseTab(target);
  for (int i = 0; i < 100 && Hosts() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Hosts(), 0);
  EXPECT_EQ(m_Gateway->Counters().SessionsAccepted, 0);
}

TEST_F(PortalInBrowser, AnOriginThatIsNotAllowedIsRefusedBeforeAnything) {
  const std::string other = "localhost:" + std::to_string(m_Avail->Port());
  const std::string tab = OpenPortal(other);
  m_Browser->Eval(tab, "document.getElementById('start').click(), true");
  ASSERT_TRUE(m_Browser->WaitFor(tab, "document.getElementById('error').textContent !== ''",
                                 kPageTimeoutMs));
  EXPECT_EQ(m_Browser->Eval(tab, "document.getElementById('error').textContent"),
            "portal not allowed: http://" + other);
  // The page's own claims change nothing: the object cannot be replaced, and the origin is the
  // browser's.
  EXPECT_EQ(m_Browser->Eval(tab, "VantrelTCS.open({params: {origin: 'http://" + m_Portal +
                                     "'}}).then(() => 'opened', e => e.message)"),
            "portal not allowed: http://" + other);
  EXPECT_EQ(m_Gateway->Counters().SessionsAccepted, 0);
  EXPECT_TRUE(m_Avail->Requests("/query/hosts").empty());
  for (int i = 0; i < 100 && Hosts() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Hosts(), 0);
}

}  // namespace
}  // namespace vantrel::test
