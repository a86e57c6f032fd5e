// vantreltcs on a console: a person types commands on its terminal (a pty here) while it runs a
// session against the reference gateway and availability server.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/ProcessSpawn.h"
#include "support/TestEnv.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"

namespace vantrel::test {
namespace {

constexpr int kGuardMs = 60000;

class TConsole {
 public:
  // Starts vantreltcs with a new pty as its controlling terminal and standard streams.
  explicit TConsole(const std::vector<std::string>& prmArgs) {
    m_Pid = forkpty(&m_Master, nullptr, nullptr, nullptr);
    if (m_Pid == 0) {
      std::vector<char*> argv;
      std::string program = BinDir() + "/vantreltcs";
      argv.push_back(program.data());
      for (const std::string& a : prmArgs) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      unsetenv("DISPLAY");
      setenv("VANTREL_RDP_CLIENT", "/bin/true", 1);  // found, so start-up asks nothing
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~TConsole() {
    if (m_Pid > 0) {
      kill(m_Pid, SIGKILL);
      int code = 0;
      WaitProcess(m_Pid, nullptr, -1, code);
    }
    if (m_Master >= 0) close(m_Master);
  }

  void Type(const std::string& prmLine) {
    std::string text = prmLine + "\n";
    ASSERT_EQ(write(m_Master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // True once prmText appeared after what earlier calls matched.
  bool Expect(const std::string& prmText) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    for (;;) {
      size_t at = m_Screen.find(prmText, m_Seen);
      if (at != std::string::npos) {
        m_Seen = at + prmText.size();
        return true;
      }
      pollfd p{m_Master, POLLIN, 0};
      if (poll(&p, 1, MsLeft(deadline)) <= 0) break;
      char chunk[4096];
      ssize_t n = read(m_Master, chunk, sizeof(chunk));
      if (n <= 0) break;
      m_Screen.append(chunk, static_cast<size_t>(n));
    }
    ADD_FAILURE() << "\"" << prmText << "\" not shown; the screen:\n" << m_Screen;
    return false;
  }
  int Wait() {
    int code = -1;
    if (!WaitProcess(m_Pid, nullptr, kGuardMs, code)) return -1;
    m_Pid = -1;
    return code;
  }

 private:
  int m_Master = -1;
  pid_t m_Pid = -1;
  std::string m_Screen;
  size_t m_Seen = 0;
};

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
  EXPECT_TRUE(console.Expect("no desktop 7; choose 0 to 1"));
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
  EXPECT_TRUE(gateway.WaitForSessionsEnded(1, kGuardMs));
}

}  // namespace
}  // namespace vantrel::test
