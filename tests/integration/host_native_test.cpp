// vantreltcs started as the browser starts its native-messaging host, against the reference
// gateway and availability server: an allowed portal opens the session and drives the control
// over the browser's framing until the port closes; a refused open is answered and nothing
// reaches the gateway. And --register-browsers writes the browsers' manifests for the user.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "host/vantreltcs/HostOptions.h"
#include "integration/host_session.h"
#include "platform/ProcessSpawn.h"
#include "testpeer/AvailabilityScenario.h"

namespace vantrel::test {
namespace {

using host::TJson;

constexpr char kPortal[] = "https://portal.example:8443";

class HostNative : public ::testing::Test, protected THostSession {
 protected:
  void SetUp() override {
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((ScenarioDir() / "avail-demo.json").string());
    avail.RulesXml = "<Rules/>";  // the demo's verification question is not what this is about
    StartPeers(std::move(avail), testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO));
    // Nobody at a display: an origin not listed is refused without a question.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("VANTREL_ALLOWED_PORTALS", kPortal, 1);
    m_Native = true;
  }
  void TearDown() override { unsetenv("VANTREL_ALLOWED_PORTALS"); }

  // The open request of a custom portal on the reference gateway, with prmExtra params.
  std::string Open(const std::string& prmOrigin, TJson prmExtra = TJson::object()) {
    TJson params = {{"platform", "Morv"}, {"custom_portal", "1"}};
    for (const std::string& p : GatewayParams()) {
      const size_t eq = p.find('=');
      params[p.substr(0, eq)] = p.substr(eq + 1);
    }
    for (const auto& [name, value] : prmExtra.items()) params[name] = value;
    return TJson{{"open", {{"origin", prmOrigin}, {"params", params}, {"dialogs", "page"}}}}.dump();
  }
};

TEST_F(HostNative, AnAllowedPortalDrivesTheControlUntilThePortCloses) {
  StartProgram({host::kChromiumExtensionOrigin, "--parent-window=0"});
  m_Pipes.SendFrame(Open(kPortal));
  EXPECT_EQ(m_Pipes.Frame(), R"({"opened":true})");
  m_Pipes.SendFrame(R"({"id":1,"method":"InitTCS"})");
  ASSERT_TRUE(WaitForEvent("OnTCSStatusChanged", 6));
  m_Pipes.SendFrame(R"({"id":2,"get":"IsConnected"})");
  EXPECT_EQ(Reply(2)["result"], 1);
  m_Pipes.SendFrame(R"({"id":3,"method":"GetRegDesktop","args":[0]})");
  EXPECT_EQ(Reply(3)["out"], TJson::parse(R"(["Office desktop","10.0.0.5",30])"));

  const auto start = std::chrono::steady_clock::now();
  m_Pipes.EndInput();  // the tab went away
  EXPECT_EQ(WaitHost(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(m_Gateway->WaitForSessionsEnded(1, kHostHangGuardMs));
}

TEST_F(HostNative, ARefusedOpenIsAnsweredAndNothingReachesTheGateway) {
  const std::vector<std::string> chromium = {host::kChromiumExtensionOrigin};
  const std::vector<std::string> firefox = {
      "/usr/lib/mozilla/native-messaging-hosts/com.vantrel.tcs.json", host::kFirefoxExtensionId};
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    std::string Request;
    std::string Error;
  } cases[] = {
      {"origin not allowed", chromium, Open("https://evil.example"),
       "portal not allowed: https://evil.example"},
      {"origin not allowed, from Firefox", firefox, Open("https://portal.example"),
       "portal not allowed: https://portal.example"},
      {"an unknown parameter, its value unseen", chromium, Open(kPortal, {{"cookie", "SECRET"}}),
       "open params: unknown parameter name \"cookie\""},
      {"a control character in a value", firefox, Open(kPortal, {{"work_dir", "a\nb"}}),
       "open params: the value of work_dir holds a control character"},
      {"not an open request", chromium, R"({"id":1,"method":"InitTCS"})",
       "the first message must be an open request"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    m_Pipes.Reopen();
    StartProgram(c.Args);
    m_Pipes.SendFrame(c.Request);
    EXPECT_EQ(m_Pipes.FrameJson(), TJson({{"opened", false}, {"error", c.Error}}));
    EXPECT_EQ(WaitHost(), 2);
  }
  EXPECT_EQ(m_Gateway->Counters().SessionsAccepted, 0);
  EXPECT_TRUE(m_Gateway->HttpRequests().empty());
}

TEST(HostNativeRegistration, WritesTheBrowsersManifestsForTheRunningProgram) {
  const std::string home = TestRoot() + "/register-home";
  const std::string config = TestRoot() + "/register-config";
  std::filesystem::remove_all(home);
  std::filesystem::remove_all(config);
  const std::string program = std::filesystem::canonical(BinDir() + "/vantreltcs").string();
  std::string out;
  ASSERT_TRUE(RunCaptureOutput(
      {"env", "HOME=" + home, "XDG_CONFIG_HOME=" + config, program, "--register-browsers"},
      kHostHangGuardMs, out));
  const TJson chromium = {{"name", "com.vantrel.tcs"},
                          {"description", "Vantrel thin client"},
                          {"path", program},
                          {"type", "stdio"},
                          {"allowed_origins", {host::kChromiumExtensionOrigin}}};
  TJson firefox = chromium;
  firefox.erase("allowed_origins");
  firefox["allowed_extensions"] = {host::kFirefoxExtensionId};
  const struct {
    std::string Path;
    TJson Manifest;
  } files[] = {{config + "/chromium/NativeMessagingHosts/com.vantrel.tcs.json", chromium},
               {config + "/google-chrome/NativeMessagingHosts/com.vantrel.tcs.json", chromium},
               {home + "/.mozilla/native-messaging-hosts/com.vantrel.tcs.json", firefox}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.Path);
    EXPECT_EQ(TJson::parse(std::ifstream(f.Path), nullptr, false), f.Manifest);
    EXPECT_NE(out.find("wrote " + f.Path), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace vantrel::test
