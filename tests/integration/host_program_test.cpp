// vantreltcs driven as a page would drive it, against the reference gateway and availability
// server on loopback: start-up, desktop list and a launch whose RDP client exchanges bytes
// through the tunnel; a page that disappears mid-launch; and real xfreerdp reaching real xrdp.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "integration/host_session.h"
#include "platform/Settings.h"
#include "testpeer/AgentPeer.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel::test {
namespace {

using host::TJson;

class HostProgram : public ::testing::Test, protected THostSession {
 protected:
  void StartPeers(uint16_t prmDesktopPort, std::vector<testpeer::TAvailFault> prmFaults = {}) {
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((ScenarioDir() / "avail-demo.json").string());
    avail.Faults = std::move(prmFaults);
    // The demo's verification rules ask the page a question; these runs are about start-up and
    // launch, so nothing is asked.
    avail.RulesXml = "<Rules/>";
    testpeer::TGatewayScenario gw = testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO);
    gw.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(prmDesktopPort);
    for (const auto& [dest, local] : m_ExtraMapping) gw.Mapping[dest] = local;
    THostSession::StartPeers(std::move(avail), std::move(gw));
  }

  void StartHost(const std::string& prmClient) {
    setenv("VANTREL_RDP_CLIENT", prmClient.c_str(), 1);
    THostSession::StartHost();
  }

  void StartUp() {
    m_Pipes.Send(R"({"id":1,"method":"InitTCS"})"
                 "\n");
    ASSERT_TRUE(WaitForEvent("OnTCSStatusChanged", 6));
    m_Pipes.Send(R"({"id":2,"get":"IsConnected"})"
                 "\n");
    ASSERT_EQ(Reply(2)["result"], 1);
  }

  std::map<std::string, std::string> m_ExtraMapping;  // more gateway destinations
};

TEST_F(HostProgram, StartUpDesktopListAndALaunchWhoseClientTalksThroughTheTunnel) {
  testpeer::TTcpTestServer desktop(testpeer::TTcpServerMode::Echo);
  StartPeers(desktop.Start());
  std::string result = TempDir() + "/client.result";
  setenv("HOST_TEST_RESULT", result.c_str(), 1);
  StartHost(WriteClient("fake-rdp", kFakeRdpClient));
  StartUp();

  m_Pipes.Send(R"({"id":3,"get":"RegDesktopsCount"})"
               "\n");
  EXPECT_EQ(Reply(3)["result"], 3);  // the third is the farm's XenDesktop desktop
  m_Pipes.Send(R"({"id":4,"method":"GetRegDesktop","args":[0]})"
               "\n");
  EXPECT_EQ(Reply(4)["out"], TJson::parse(R"(["Office desktop","10.0.0.5",30])"));
  m_Pipes.Send("{not json\n");
  EXPECT_EQ(m_Pipes.Json()["error"], "malformed request: not JSON");
  m_Pipes.Send(R"({"id":5,"dispid":4348,"args":[0,1]})"
               "\n");
  EXPECT_EQ(Reply(5)["result"], nullptr);

  ASSERT_TRUE(desktop.WaitFor([](const auto& c) { return c.Closed >= 1; }, kHostHangGuardMs));
  for (int i = 0; i < 600 && !std::filesystem::exists(result); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ifstream in(result);
  std::string line;
  std::getline(in, line);
  EXPECT_NE(line.find("127.0.0.1:"), std::string::npos) << line;
  EXPECT_NE(line.find("|RDP-HELLO-THROUGH-TUNNEL"), std::string::npos) << line;

  m_Pipes.EndInput();
  EXPECT_EQ(WaitHost(), 0);
}

TEST_F(HostProgram, APageThatDisappearsMidLaunchLeavesNothingBehind) {
  testpeer::TTcpTestServer desktop(testpeer::TTcpServerMode::Echo);
  StartPeers(desktop.Start());
  std::string result = TempDir() + "/linger.result";
  setenv("HOST_TEST_RESULT", result.c_str(), 1);
  StartHost(WriteClient("fake-rdp-linger", kFakeRdpClient));
  StartUp();
  m_Pipes.Send(R"({"id":5,"method":"LaunchDesktop","args":[0,1]})"
               "\n");
  m_Pipes.EndInput();  // gone before the launch answered
  EXPECT_EQ(WaitHost(), 0);
  // The host ended; the gateway saw its session end and no listener is left behind.
  EXPECT_TRUE(m_Gateway->WaitForSessionsEnded(1, kHostHangGuardMs));
  EXPECT_FALSE(std::filesystem::exists(TempDir() + "/Vantrel/10.0.0.5.rdp"));
}

TEST_F(HostProgram, BrowsesTheFoldersAndLaunchesARemoteApplicationThroughTheTunnel) {
  testpeer::TServerAgentPeer agent(testpeer::TAgentAnswer::Type2);
  agent.Start();
  m_ExtraMapping["10.0.0.5:9091"] = agent.HostPort();
  testpeer::TTcpTestServer appServer(testpeer::TTcpServerMode::Echo);
  StartPeers(appServer.Start());
  std::string result = TempDir() + "/app.result";
  setenv("HOST_TEST_RESULT", result.c_str(), 1);
  // The fake client keeps the connection file it was given, then talks through the tunnel.
  StartHost(WriteClient("fake-rdp-app", "#!/bin/bash\ncp \"${@: -1}\" \"$HOST_TEST_RESULT.rdp\"\n" +
                                            std::string(kFakeRdpClient).substr(12)));
  StartUp();

  int id = 10;
  auto ask = [&](const std::string& prmRequest) {
    m_Pipes.Send("{\"id\":" + std::to_string(++id) + "," + prmRequest + "}\n");
    return Reply(id);
  };
  EXPECT_EQ(ask(R"("get":"CurFolder")")["result"], "");
  EXPECT_EQ(ask(R"("get":"AppsCount")")["result"], 0);
  EXPECT_EQ(ask(R"("get":"SubFoldersCount")")["result"], 2);  // Accessories, Citrix
  ask(R"("method":"SetCurFolder","args":[0])");
  EXPECT_EQ(ask(R"("get":"CurFolder")")["result"], "Accessories");
  EXPECT_EQ(ask(R"("get":"HasParentFolder")")["result"], 1);
  EXPECT_EQ(ask(R"("get":"SubFoldersCount")")["result"], 1);
  ask(R"("method":"SetCurSubFolder","args":[0])");
  EXPECT_EQ(ask(R"("get":"CurSubFolder")")["result"], "Tools");
  ASSERT_EQ(ask(R"("get":"AppsCount")")["result"], 1);
  ask(R"("method":"SetCurApp","args":[0])");
  EXPECT_EQ(ask(R"("get":"CurAppName")")["result"], "Notepad");
  EXPECT_EQ(ask(R"("get":"CurAppIconURL")")["result"],
            "/prx/000/http/localhost:9090/query/appicon?_appid=notepad");
  EXPECT_EQ(ask(R"("method":"LaunchCurApp")")["result"], nullptr);

  ASSERT_TRUE(appServer.WaitFor([](const auto& c) { return c.Closed >= 1; }, kHostHangGuardMs));
  for (int i = 0; i < 600 && !std::filesystem::exists(result); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string line;
  std::ifstream in(result);
  std::getline(in, line);
  EXPECT_NE(line.find("|RDP-HELLO-THROUGH-TUNNEL"), std::string::npos) << line;
  std::stringstream file;
  file << std::ifstream(result + ".rdp").rdbuf();
  for (const char* entry :
       {"remoteapplicationmode:i:1\r\n", "remoteapplicationprogram:s:C:\\Windows\\notepad.exe\r\n",
        "remoteapplicationname:s:Notepad\r\n", "username:s:demo\r\n"})
    EXPECT_NE(file.str().find(entry), std::string::npos) << entry;
  EXPECT_EQ(agent.Requests(), 1u);
  EXPECT_EQ(m_Avail->Requests("/query/appserver").at(0).RawParam("_appid"), "notepad");

  m_Pipes.EndInput();
  EXPECT_EQ(WaitHost(), 0);
}

// The end of input and SIGTERM start the same release, and the host is gone within 2 s, also
// when the page left a backlog of replies unread.
enum class TPageEnd { Input, Term, TermWithBacklog };
class HostProgramEnd : public HostProgram, public ::testing::WithParamInterface<TPageEnd> {};

TEST_P(HostProgramEnd, ReleasesWithinTwoSeconds) {
  testpeer::TTcpTestServer desktop(testpeer::TTcpServerMode::Echo);
  // The power-up request is never answered: the window thread is inside that call at the end.
  testpeer::TAvailFault silent;
  silent.Path = "/object/powerup";
  silent.Silent = true;
  StartPeers(desktop.Start(), {silent});
  StartHost(WriteClient("fake-rdp", kFakeRdpClient));
  StartUp();
  m_Pipes.Send(R"({"id":3,"method":"SetCurDesktop","args":[1]})"
               "\n"
               R"({"id":4,"method":"WakeupDesktop"})"
               "\n");
  EXPECT_EQ(Reply(3)["result"], nullptr);
  ASSERT_TRUE(m_Avail->WaitForRequest("/object/powerup", kHostHangGuardMs).has_value());
  if (GetParam() == TPageEnd::TermWithBacklog) {
    // Far more replies than the pipe holds, none of them read.
    std::string calls;
    for (int i = 100; i < 4100; ++i)
      calls += R"({"id":)" + std::to_string(i) + R"(,"get":"IsConnected"})" + "\n";
    m_Pipes.Send(calls);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  const auto start = std::chrono::steady_clock::now();
  if (GetParam() == TPageEnd::Input)
    m_Pipes.EndInput();
  else
    kill(m_Pid, SIGTERM);
  EXPECT_EQ(WaitHost(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

std::string PageEndName(const ::testing::TestParamInfo<TPageEnd>& prmInfo) {
  static const char* const kNames[] = {"Input", "Term", "TermWithBacklog"};
  return kNames[static_cast<int>(prmInfo.param)];
}

INSTANTIATE_TEST_SUITE_P(Ends, HostProgramEnd,
                         ::testing::Values(TPageEnd::Input, TPageEnd::Term,
                                           TPageEnd::TermWithBacklog),
                         PageEndName);

TEST_F(HostProgram, RealXfreerdpReachesRealXrdpThroughTheGateway) {
  for (const char* p : {"xrdp", "xfreerdp", "Xvfb"})
    ASSERT_FALSE(FindProgram(p).empty()) << p << " is missing: run scripts/bootstrap.sh";
  std::string demo = (SourceRoot() / "scripts/demo.sh").string();
  std::string out;
  // The demo runs the whole chain (Xvfb, xrdp, peers, vantreltcs, vantrel-mstsc, xfreerdp).
  setenv("VANTREL_DEMO_BUILD", std::filesystem::path(BinDir()).parent_path().c_str(), 1);
  setenv("VANTREL_DEMO_SKIP_BUILD", "1", 1);
  ASSERT_TRUE(RunCaptureOutput({"bash", demo}, 240000, out, 1 << 20)) << out;
  EXPECT_NE(out.find("Authentication only, exit status 0"), std::string::npos) << out;
  EXPECT_NE(out.find("vantreltcs ended with 0"), std::string::npos) << out;
}

}  // namespace
}  // namespace vantrel::test
