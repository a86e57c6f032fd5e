// Forwarding speed of the tunnel against a direct loopback connection and against an SSH local
// forward: bulk throughput of one connection, 50 connections at once, set-up latency (connect to
// first echoed byte), the round trip of one byte, and 499 connections held open with traffic
// (memory per connection, the slowest connection against the mean).
//
// Paths (the benchmark argument): 0 direct, 1 ssh -L (needs bench/run-ssh-baseline.sh, which sets
// VANTREL_SSH_CONTROL and VANTREL_SSH_PID), 2 first-protocol tunnel, 3 legacy tunnel. The tunnel
// paths run the reference gateway (vantrel-testpeer) and the forwarding client
// (bench-forward-client) as processes of their own, so CPU time and memory are theirs alone, read
// from /proc as for the ssh client; the destinations are in-process TCP servers on loopback.
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
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchTrust.h"
#include "diag/Exceptions.h"
#include "testpeer/TcpTestServer.h"

extern char** environ;

namespace vantrel {
namespace {

using testpeer::TTcpServerMode;
using testpeer::TTcpTestServer;

enum TPath { pDirect, pSsh, pFirst, pLegacy };
constexpr int kWaitMs = 300000;

int ConnectTo(int prmPort) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(prmPort));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

long RssKb(pid_t prmPid) {
  std::ifstream in("/proc/" + std::to_string(prmPid) + "/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
  }
  return 0;
}

// User and system CPU time of a process so far (its threads included).
double CpuSeconds(pid_t prmPid) {
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

using TClock = std::chrono::steady_clock;

// Writes prmEach bytes on every socket at once from one thread; false when a socket failed.
// prmDone, when given, gets the time each socket took to hand over its bytes.
bool PumpAll(const std::vector<int>& prmSocks, uint64_t prmEach,
             std::vector<double>* prmDone = nullptr) {
  static const std::vector<uint8_t> chunk(256 * 1024, 0x5A);
  const auto start = TClock::now();
  std::vector<uint64_t> left(prmSocks.size(), prmEach);
  std::vector<pollfd> fds(prmSocks.size());
  if (prmDone) prmDone->assign(prmSocks.size(), 0);
  size_t busy = prmSocks.size();
  while (busy > 0) {
    for (size_t i = 0; i < prmSocks.size(); ++i)
      fds[i] = {left[i] > 0 ? prmSocks[i] : -1, POLLOUT, 0};
    if (poll(fds.data(), fds.size(), kWaitMs) <= 0) return false;
    for (size_t i = 0; i < prmSocks.size(); ++i) {
      if (!(fds[i].revents & POLLOUT)) continue;
      ssize_t n = send(prmSocks[i], chunk.data(), std::min<uint64_t>(left[i], chunk.size()),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0 && (left[i] -= static_cast<uint64_t>(n)) == 0) {
        --busy;
        if (prmDone) (*prmDone)[i] = std::chrono::duration<double>(TClock::now() - start).count();
      }
    }
  }
  return true;
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

bool WaitReceived(TTcpTestServer& prmSink, uint64_t prmTotal) {
  return prmSink.WaitFor([&](const auto& c) { return c.BytesReceived >= prmTotal; }, kWaitMs);
}

// Opens prmCount connections through prmRoute and waits until the sink accepted all of them.
std::vector<int> OpenMany(TRoute& prmRoute, TTcpTestServer& prmSink, int prmCount) {
  int before = prmSink.Counters().Accepted;
  std::vector<int> socks;
  for (int i = 0; i < prmCount; ++i) {
    int s = ConnectTo(prmRoute.Port());
    if (s < 0) throw EBaseException("connect failed");
    socks.push_back(s);
  }
  // One byte each: the whole path of every connection is up before anything is measured.
  if (!PumpAll(socks, 1) ||
      !prmSink.WaitFor([&](const auto& c) { return c.Accepted - before >= prmCount; }, kWaitMs))
    throw EBaseException("connections did not reach the sink");
  return socks;
}

void CloseAll(std::vector<int>& prmSocks) {
  for (int s : prmSocks) close(s);
  prmSocks.clear();
}

// Parallel transfer: prmConns connections, prmEach bytes on each per iteration.
void RunParallel(benchmark::State& prmState, int prmConns, uint64_t prmEach, bool prmHeld) {
  Guarded(prmState, [&] {
    TTcpTestServer sink(TTcpServerMode::Sink);
    sink.Start();
    TRoute route(static_cast<TPath>(prmState.range(0)), sink.Port());
    const pid_t client = route.ClientPid();
    const long rssBefore = client ? RssKb(client) : 0;
    std::vector<int> socks = OpenMany(route, sink, prmConns);
    uint64_t expected = sink.Counters().BytesReceived;
    TCpuMeter cpu(route);
    double slowest = 0, mean = 0;
    std::vector<double> done;
    for (auto _ : prmState) {
      expected += prmEach * static_cast<uint64_t>(prmConns);
      if (!PumpAll(socks, prmEach, &done) || !WaitReceived(sink, expected)) {
        prmState.SkipWithError("transfer failed");
        break;
      }
      for (double d : done) {
        slowest = std::max(slowest, d);
        mean += d / static_cast<double>(done.size());
      }
    }
    const double bytes =
        static_cast<double>(prmEach) * prmConns * static_cast<double>(prmState.iterations());
    prmState.SetBytesProcessed(static_cast<int64_t>(bytes));
    cpu.Report(prmState, bytes);
    if (prmHeld) {
      // Measured with the connections open and their buffers used.
      if (client)
        prmState.counters["rss_kb_per_conn"] =
            static_cast<double>(RssKb(client) - rssBefore) / prmConns;
      // How long the slowest connection took to hand over its share against the mean: a
      // starved connection shows as a large factor.
      if (mean > 0)
        prmState.counters["slowest_vs_mean"] =
            slowest / (mean / static_cast<double>(prmState.iterations()));
    }
    CloseAll(socks);
  });
}

void BM_Bulk(benchmark::State& prmState) {
  RunParallel(prmState, 1, 64u << 20, false);
}

void BM_Parallel50(benchmark::State& prmState) {
  RunParallel(prmState, 50, 2u << 20, false);
}

void BM_Hold499(benchmark::State& prmState) {
  RunParallel(prmState, 499, 256u << 10, true);
}

// One byte out and the same byte back; false when it did not come.
bool EchoByte(int prmSock) {
  char c = 'x';
  pollfd pfd{prmSock, POLLIN, 0};
  return send(prmSock, &c, 1, MSG_NOSIGNAL) == 1 && poll(&pfd, 1, kWaitMs) == 1 &&
         recv(prmSock, &c, 1, 0) == 1;
}

// Accept to first echoed byte: connect, one byte out, the same byte back.
void BM_SetupLatency(benchmark::State& prmState) {
  Guarded(prmState, [&] {
    TTcpTestServer echo(TTcpServerMode::Echo);
    echo.Start();
    TRoute route(static_cast<TPath>(prmState.range(0)), echo.Port());
    for (auto _ : prmState) {
      int s = ConnectTo(route.Port());
      if (s < 0 || !EchoByte(s)) {
        prmState.SkipWithError("no echo");
        if (s >= 0) close(s);
        break;
      }
      close(s);
    }
  });
}

// Round trip of one byte on a connection that is already up (a keystroke and its echo).
void BM_EchoRtt(benchmark::State& prmState) {
  Guarded(prmState, [&] {
    TTcpTestServer echo(TTcpServerMode::Echo);
    echo.Start();
    TRoute route(static_cast<TPath>(prmState.range(0)), echo.Port());
    int s = ConnectTo(route.Port());
    if (s < 0 || !EchoByte(s)) throw EBaseException("no echo");
    for (auto _ : prmState) {
      if (!EchoByte(s)) {
        prmState.SkipWithError("no echo");
        break;
      }
    }
    close(s);
  });
}

void Paths(benchmark::internal::Benchmark* prmBench) {
  prmBench->ArgName("path");
  for (int p = pDirect; p <= pLegacy; ++p) prmBench->Arg(p);
  prmBench->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Bulk)->Apply(Paths)->Iterations(5);
BENCHMARK(BM_Parallel50)->Apply(Paths)->Iterations(5);
BENCHMARK(BM_SetupLatency)->Apply(Paths)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EchoRtt)->Apply(Paths)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Hold499)->Apply(Paths)->Iterations(3);

// Made before any gateway starts: the peers read the key, the clients the pin.
const bench::TBenchGatewayKey g_GatewayKey;

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
