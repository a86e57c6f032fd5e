// What the forwarding benchmarks share: the paths a connection can take to a loopback target
// (direct, an ssh -L forward of the master connection bench/run-ssh-baseline.sh made, or the
// tunnel of either protocol through the reference gateway, each side a process of its own) and
// the CPU time of the processes that carry the data.
#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "testpeer/PeerSocket.h"

extern char** environ;

namespace vantrel::bench {

enum TPath { pDirect, pSsh, pFirst, pLegacy };
constexpr int kWaitMs = 300000;

inline int ConnectTo(int prmPort) {
  return testpeer::ConnectLoopback(static_cast<uint16_t>(prmPort), true);
}

inline int FreePort() {
  return testpeer::FreeLoopbackPort();
}

// User and system CPU time of a process so far (its threads included).
inline double CpuSeconds(pid_t prmPid) {
  std::ifstream in("/proc/" + std::to_string(prmPid) + "/stat");
  std::string line;
  std::getline(in, line);
  auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields 3 to 13, then utime (14) and stime (15).
  for (int i = 3; i <= 13; ++i) rest >> field;
  rest >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A helper program started with its arguments; its first output line names the port it listens
// on ("listening HOST:PORT"). Stopped with SIGTERM on destruction.
class TChildProcess {
 public:
  explicit TChildProcess(std::vector<std::string> prmArgs) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw EBaseException("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<char*> argv;
    for (std::string& a : prmArgs) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&m_Pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      throw EBaseException("cannot start " + prmArgs[0]);
    }
    std::string line;
    char c;
    pollfd pfd{out[0], POLLIN, 0};
    while (poll(&pfd, 1, 30000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    auto colon = line.rfind(':');
    if (line.rfind("listening ", 0) != 0 || colon == std::string::npos)
      throw EBaseException(prmArgs[0] + " did not start: " + line);
    m_Port = std::atoi(line.c_str() + colon + 1);
  }
  ~TChildProcess() {
    kill(m_Pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_Pid, SIGKILL);
    waitpid(m_Pid, nullptr, 0);
  }
  int Port() const { return m_Port; }
  pid_t Pid() const { return m_Pid; }

  // A program built next to the benchmark programs.
  static std::string Beside(const char* prmName) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return prmName;
    std::string dir(self);
    return dir.substr(0, dir.rfind('/')) + "/" + prmName;
  }

 private:
  pid_t m_Pid = -1;
  int m_Port = 0;
};

// A local port that leads to prmTargetPort along the chosen path.
class TRoute {
 public:
  TRoute(TPath prmPath, int prmTargetPort) : m_Path(prmPath) {
    switch (prmPath) {
      case pDirect:
        m_Port = prmTargetPort;
        break;
      case pSsh: {
        const char* ctl = std::getenv("VANTREL_SSH_CONTROL");
        const char* pid = std::getenv("VANTREL_SSH_PID");
        if (ctl == nullptr || pid == nullptr)
          throw EBaseException("no ssh master: run bench/run-ssh-baseline.sh");
        m_Port = FreePort();
        m_SshSpec = std::to_string(m_Port) + ":127.0.0.1:" + std::to_string(prmTargetPort);
        m_SshCtl = ctl;
        m_ClientPid = std::atoi(pid);
        if (const char* servers = std::getenv("VANTREL_SSHD_PIDS")) {
          std::istringstream list(servers);
          for (pid_t p; list >> p;) m_ServerPids.push_back(p);
        }
        if (!Ssh("forward")) throw EBaseException("ssh forward failed");
        break;
      }
      case pFirst:
      case pLegacy: {
        const char* protocol = prmPath == pFirst ? "first" : "legacy";
        m_Gateway = std::make_unique<TChildProcess>(std::vector<std::string>{
            TChildProcess::Beside("vantrel-testpeer"), "gateway", "--protocol", protocol});
        m_Client = std::make_unique<TChildProcess>(std::vector<std::string>{
            TChildProcess::Beside("bench-forward-client"), protocol,
            std::to_string(m_Gateway->Port()), std::to_string(prmTargetPort)});
        m_Port = m_Client->Port();
        m_ClientPid = m_Client->Pid();
        m_ServerPids = {m_Gateway->Pid()};
        break;
      }
    }
  }
  ~TRoute() {
    if (m_Path == pSsh) Ssh("cancel");
  }
  int Port() const { return m_Port; }
  // The forwarding client's process (0 on the direct path), and the server side's: the gateway
  // peer, or sshd's processes for the ssh master connection.
  pid_t ClientPid() const { return m_ClientPid; }
  const std::vector<pid_t>& ServerPids() const { return m_ServerPids; }

 private:
  bool Ssh(const char* prmOp) {
    std::string cmd =
        "ssh -S '" + m_SshCtl + "' -O " + prmOp + " -L " + m_SshSpec + " placeholder 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
  }
  TPath m_Path;
  int m_Port = 0;
  pid_t m_ClientPid = 0;
  std::vector<pid_t> m_ServerPids;
  std::string m_SshCtl, m_SshSpec;
  std::unique_ptr<TChildProcess> m_Gateway;
  std::unique_ptr<TChildProcess> m_Client;
};

// CPU seconds the forwarding client and the server side spend while a measurement runs.
class TCpuMeter {
 public:
  explicit TCpuMeter(const TRoute& prmRoute)
      : m_Client(prmRoute.ClientPid()),
        m_Peers(prmRoute.ServerPids()),
        m_Client0(m_Client ? CpuSeconds(m_Client) : 0),
        m_Peer0(PeerSeconds()) {}
  // Seconds per GB (10^9 bytes) moved, as counters; none on the direct path.
  void Report(benchmark::State& prmState, double prmBytes) const {
    if (prmBytes <= 0) return;
    const double gb = prmBytes / 1e9;
    if (m_Client)
      prmState.counters["client_cpu_s_per_GB"] = (CpuSeconds(m_Client) - m_Client0) / gb;
    if (!m_Peers.empty()) prmState.counters["peer_cpu_s_per_GB"] = (PeerSeconds() - m_Peer0) / gb;
  }

 private:
  double PeerSeconds() const {
    double sum = 0;
    for (pid_t p : m_Peers) sum += CpuSeconds(p);
    return sum;
  }
  pid_t m_Client;
  std::vector<pid_t> m_Peers;
  double m_Client0, m_Peer0;
};

template <typename TBody>
void Guarded(benchmark::State& prmState, TBody prmBody) {
  try {
    prmBody();
  } catch (const EBaseException& e) {
    prmState.SkipWithError(e.GetMsg().c_str());
  }
}

}  // namespace vantrel::bench
