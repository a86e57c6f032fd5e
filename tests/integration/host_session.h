// vantreltcs as a page starts it, against the reference gateway and availability server on
// loopback: the peers, the host process on the page's pipes, and reads that keep the events met
// on the way. Every read is bounded by the hang guard; the host is killed if a test leaves early.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "integration/host_pipes.h"
#include "platform/ProcessSpawn.h"
#include "support/TestEnv.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerScenario.h"

namespace vantrel::test {

// The peers' scenario folder and the source tree, from the demo scenario's path.
inline std::filesystem::path ScenarioDir() {
  return std::filesystem::path(VANTREL_TESTPEER_DEMO).parent_path();
}
inline std::filesystem::path SourceRoot() {
  return ScenarioDir().parent_path().parent_path().parent_path();
}

// The fake RDP client: reads the loopback address from the connection file, sends a greeting
// through it and writes what came back (the echo desktop returns it) to $HOST_TEST_RESULT.
inline constexpr char kFakeRdpClient[] =
    "#!/bin/bash\n"
    "f=\"${@: -1}\"\n"
    "addr=$(sed -n 's/^full address:s:\\(.*\\)\\r$/\\1/p' \"$f\")\n"
    "exec 3<>/dev/tcp/${addr%:*}/${addr#*:} || exit 3\n"
    "printf 'RDP-HELLO-THROUGH-TUNNEL\\n' >&3\n"
    "read -t 20 -r back <&3\n"
    "printf '%s|%s\\n' \"$addr\" \"$back\" > \"$HOST_TEST_RESULT.tmp\"\n"
    "mv \"$HOST_TEST_RESULT.tmp\" \"$HOST_TEST_RESULT\"\n"
    "sleep ${HOST_TEST_LINGER:-0}\n";

// Writes an executable script prmText as prmName in the test's temporary folder; its path.
inline std::string WriteClient(const std::string& prmName, const std::string& prmText) {
  std::string path = ::testing::TempDir() + "/" + prmName;
  std::ofstream(path) << prmText;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

class THostSession {
 public:
  THostSession() = default;
  THostSession(const THostSession&) = delete;
  THostSession& operator=(const THostSession&) = delete;
  ~THostSession() {
    if (m_Pid > 0) {
      kill(m_Pid, SIGKILL);
      int code = 0;
      WaitProcess(m_Pid, nullptr, -1, code);
    }
  }

  // The availability server, then a first-protocol gateway that relays the client's
  // availability address to it.
  void StartPeers(testpeer::TAvailScenario prmAvail, testpeer::TGatewayScenario prmGateway) {
    m_Avail = std::make_unique<testpeer::TAvailabilityServer>(std::move(prmAvail));
    m_Avail->Start();
    m_Gateway = std::make_unique<testpeer::TGatewayPeer>(
        testpeer::DemoGatewayScenario(std::move(prmGateway), m_Avail->HostPort()));
    m_Gateway->Start();
  }

  // vantreltcs on the gateway with the page's pipes as its standard input and output; prmParams
  // are the start parameters besides the gateway's address (by default a Morv custom portal).
  void StartHost(const std::vector<std::string>& prmParams = {"platform=Morv", "custom_portal=1"},
                 uint16_t prmGatewayPort = 0) {
    std::vector<std::string> args = {"--api", "stdio", "--ui", "none"};
    for (const std::string& p : prmParams) args.insert(args.end(), {"--param", p});
    for (const std::string& p : GatewayParams(prmGatewayPort))
      args.insert(args.end(), {"--param", p});
    StartProgram(args);
  }

  // The start parameters that lead to the reference gateway.
  std::vector<std::string> GatewayParams(uint16_t prmGatewayPort = 0) const {
    const uint16_t gwPort = prmGatewayPort != 0 ? prmGatewayPort : m_Gateway->Port();
    return {"sp_name=127.0.0.1", "sp_port=" + std::to_string(gwPort), "session_id=s1"};
  }

  // The built vantreltcs with prmArgs, on the page's pipes.
  void StartProgram(std::vector<std::string> prmArgs) {
    const std::string program = BinDir() + "/vantreltcs";
    prmArgs.insert(prmArgs.begin(), "vantreltcs");
    std::vector<char*> argv;
    for (std::string& a : prmArgs) argv.push_back(a.data());
    argv.push_back(nullptr);
    m_Pid = fork();
    ASSERT_GE(m_Pid, 0);
    if (m_Pid == 0) {
      dup2(m_Pipes.HostIn, 0);
      dup2(m_Pipes.HostOut, 1);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(m_Pipes.HostIn);
    close(m_Pipes.HostOut);
    m_Pipes.HostIn = m_Pipes.HostOut = -1;
  }

  // Reads the host's lines until prmStop accepts one; every event on the way is kept. False
  // when the host went silent or closed.
  bool ReadUntil(const std::function<bool(const host::TJson&)>& prmStop) {
    for (;;) {
      host::TJson j = m_Native ? m_Pipes.FrameJson() : m_Pipes.Json();
      if (j.is_discarded()) return false;
      if (j.contains("event")) m_Events.push_back(j);
      if (prmStop(j)) return true;
    }
  }
  // The event with this name and first argument, kept already or still to come.
  bool WaitForEvent(const std::string& prmName, int prmFirstArg) {
    auto matches = [&](const host::TJson& j) {
      return j.value("event", "") == prmName && j["args"][0] == prmFirstArg;
    };
    for (const host::TJson& e : m_Events)
      if (matches(e)) return true;
    return ReadUntil(matches);
  }
  // The reply to request prmId; discarded when the host went silent or closed.
  host::TJson Reply(int prmId) {
    host::TJson reply;
    bool found = ReadUntil([&](const host::TJson& j) {
      reply = j;
      return !j.contains("event") && j.value("id", host::TJson()) == prmId;
    });
    return found ? reply : host::TJson(host::TJson::value_t::discarded);
  }

  // The host's exit code once it ended; -1 when it did not end within the guard.
  int WaitHost() {
    int code = -1;
    if (!WaitProcess(m_Pid, nullptr, kHostHangGuardMs, code)) {
      kill(m_Pid, SIGKILL);
      WaitProcess(m_Pid, nullptr, -1, code);
      return -1;
    }
    m_Pid = -1;
    return code;
  }

  TPagePipes m_Pipes;
  std::unique_ptr<testpeer::TAvailabilityServer> m_Avail;
  std::unique_ptr<testpeer::TGatewayPeer> m_Gateway;
  pid_t m_Pid = -1;
  std::vector<host::TJson> m_Events;
  bool m_Native = false;  // the host speaks the browser's framing
};

}  // namespace vantrel::test
