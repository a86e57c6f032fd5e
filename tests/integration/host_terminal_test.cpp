// vantreltcs on a console: a person types commands on its terminal (a pty here) while it runs a
// session against the reference gateway and availability server.
#include <gtest/gtest.h>

#include <filesystem>

#include "integration/host_console.h"
#include "support/TestEnv.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"

namespace vantrel::test {
namespace {

TEST(HostTerminal, ListLaunchSettingsMistakesAndQuit) {
  std::string scenarios = std::filesystem::path(VANTREL_TESTPEER_DEMO).parent_path().string();
  testpeer::TAvailScenario sc = testpeer::AvailScenarioFromFile(scenarios + "/avail-demo.json");
  sc.RulesXml = "<Rules/>";  // the demo's verification prompt is not what this run is about
  testpeer::TAvailabilityServer avail(sc);
  avail.Start();
  testpeer::TGatewayPeer gateway(testpeer::DemoGatewayScenario(
      testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO), avail.HostPort()));
  uint16_t port = gateway.Start();

  TConsole console({"--ui", "terminal", "--param", "platform=Morv", "--param", "sp_name=127.0.0.1",
                    "--param", "sp_port=" + std::to_string(port), "--param", "session_id=s1"});
  ASSERT_TRUE(console.Expect("commands: list | launch N | settings [NAME VALUE] | quit | help"));
  ASSERT_TRUE(console.Expect("1 Sleeping desktop"));  // the form, once start-up listed them
  console.Type("list");
  EXPECT_TRUE(
      console.Expect(" 0  Office desktop  (10.0.0.5, expires in 30 day(s))\r\n"
                     " 1  Sleeping desktop  (10.0.0.6)"));
  console.Type("launch 7");
  EXPECT_TRUE(console.Expect("no desktop 7; choose 0 to 2"));
  console.Type("settings colordepth 3");
  EXPECT_TRUE(console.Expect(" ColorDepth = 3"));
  console.Type("settings ColorDepth 9");  // out of range: ignored by the control
  EXPECT_TRUE(console.Expect(" ColorDepth = 3"));
  console.Type("settings Volume 3");
  EXPECT_TRUE(console.Expect("no setting Volume"));
  console.Type("reboot now");
  EXPECT_TRUE(console.Expect("unknown command \"reboot\"; commands:"));
  console.Type("quit");
  EXPECT_TRUE(console.Expect("quitting"));
  EXPECT_EQ(console.Wait(), 0);
  EXPECT_TRUE(gateway.WaitForSessionsEnded(1, kConsoleGuardMs));
}

}  // namespace
}  // namespace vantrel::test
