// Forwarding speed of the tunnel against a direct loopback connection and against an SSH local
// forward: bulk throughput of one connection, 50 connections at once, set-up latency (connect to
// first echoed byte) and 499 connections held open (memory per connection, throughput each).
//
// Paths (the benchmark argument): 0 direct, 1 ssh -L (needs bench/run-ssh-baseline.sh, which sets
// VANTREL_SSH_CONTROL and VANTREL_SSH_PID), 2 first-protocol tunnel, 3 legacy tunnel. The tunnel
// paths run the reference gateway as its own process (vantrel-testpeer), so the memory figures
// are the client's own; the destinations are in-process TCP servers on loopback.
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
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "testpeer/TcpTestServer.h"
#include "tunnel/TCSProtocolMorv.h"
#include "tunnel/TCSProtocolPelx.h"

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
  std::ifstream in(prmPid == 0 ? std::string("/proc/self/status")
                               : "/proc/" + std::to_string(prmPid) + "/status");
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

// Writes prmEach bytes on every socket at once from one thread; false when a socket failed.
bool PumpAll(const std::vector<int>& prmSocks, uint64_t prmEach) {
  static const std::vector<uint8_t> chunk(256 * 1024, 0x5A);
  std::vector<uint64_t> left(prmSocks.size(), prmEach);
  std::vector<pollfd> fds(prmSocks.size());
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
      if (n > 0 && (left[i] -= static_cast<uint64_t>(n)) == 0) --busy;
    }
  }
  return true;
}

// The reference gateway as a child process: started with its protocol, stopped on destruction.
class TGatewayProcess {
 public:
  explicit TGatewayProcess(const char* prmProtocol) {
    std::string exe = PeerProgram();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw EBaseException("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    const char* argv[] = {exe.c_str(), "gateway", "--protocol", prmProtocol, nullptr};
    int rc = posix_spawn(&m_Pid, exe.c_str(), &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      throw EBaseException("cannot start " + exe);
    }
    std::string line;
    char c;
    pollfd pfd{out[0], POLLIN, 0};
    while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    auto colon = line.rfind(':');
    if (line.rfind("listening ", 0) != 0 || colon == std::string::npos)
      throw EBaseException("gateway did not start: " + line);
    m_Port = std::atoi(line.c_str() + colon + 1);
  }
  ~TGatewayProcess() {
    kill(m_Pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_Pid, SIGKILL);
    waitpid(m_Pid, nullptr, 0);
  }
  int Port() const { return m_Port; }

 private:
  // Built next to the benchmark programs.
  static std::string PeerProgram() {
    if (const char* p = std::getenv("VANTREL_TESTPEER")) return p;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return "vantrel-testpeer";
    std::string dir(self);
    return dir.substr(0, dir.rfind('/')) + "/vantrel-testpeer";
  }
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
        if (ctl == nullptr) throw EBaseException("no ssh master: run bench/run-ssh-baseline.sh");
        m_Port = FreePort();
        m_SshSpec = std::to_string(m_Port) + ":127.0.0.1:" + std::to_string(prmTargetPort);
        m_SshCtl = ctl;
        if (!Ssh("forward")) throw EBaseException("ssh forward failed");
        break;
      }
      case pFirst:
      case pLegacy: {
        m_Gateway = std::make_unique<TGatewayProcess>(prmPath == pFirst ? "first" : "legacy");
        if (prmPath == pFirst)
          m_Mng = std::make_unique<CAppMngMorv>("127.0.0.1", m_Gateway->Port(), "c", "s", "m", "d");
        else
          m_Mng = std::make_unique<CAppMngPelx>("127.0.0.1", m_Gateway->Port(), "c", "a+b", "m");
        m_Mng->InitControlConnection();
        if (!m_Mng->IsReady(kWaitMs)) throw EBaseException("tunnel not ready");
        m_Mng->AddConn("127.0.0.1", prmTargetPort, 0, m_Port, nullptr, 0, 1, 0, false, false);
        break;
      }
    }
  }
  ~TRoute() {
    if (m_Path == pSsh) Ssh("cancel");
    m_Mng.reset();
  }
  int Port() const { return m_Port; }
  // The process whose memory counts as the forwarding client's.
  pid_t ClientPid() const {
    const char* pid = std::getenv("VANTREL_SSH_PID");
    return m_Path == pSsh && pid != nullptr ? std::atoi(pid) : 0;
  }

 private:
  bool Ssh(const char* prmOp) {
    std::string cmd =
        "ssh -S '" + m_SshCtl + "' -O " + prmOp + " -L " + m_SshSpec + " placeholder 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
  }
  TPath m_Path;
  int m_Port = 0;
  std::string m_SshCtl, m_SshSpec;
  std::unique_ptr<TGatewayProcess> m_Gateway;
  std::unique_ptr<CAppMng> m_Mng;
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
void RunParallel(benchmark::State& prmState, int prmConns, uint64_t prmEach, bool prmMemory) {
  Guarded(prmState, [&] {
    TTcpTestServer sink(TTcpServerMode::Sink);
    sink.Start();
    TRoute route(static_cast<TPath>(prmState.range(0)), sink.Port());
    const long rssBefore = RssKb(route.ClientPid());
    std::vector<int> socks = OpenMany(route, sink, prmConns);
    const long rssOpen = RssKb(route.ClientPid());
    uint64_t expected = sink.Counters().BytesReceived;
    for (auto _ : prmState) {
      expected += prmEach * static_cast<uint64_t>(prmConns);
      if (!PumpAll(socks, prmEach) || !WaitReceived(sink, expected)) {
        prmState.SkipWithError("transfer failed");
        break;
      }
    }
    const double bytes =
        static_cast<double>(prmEach) * prmConns * static_cast<double>(prmState.iterations());
    prmState.SetBytesProcessed(static_cast<int64_t>(bytes));
    prmState.counters["per_conn_Bps"] = benchmark::Counter(
        bytes / prmConns, benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
    if (prmMemory)
      prmState.counters["rss_kb_per_conn"] = static_cast<double>(rssOpen - rssBefore) / prmConns;
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

// Accept to first echoed byte: connect, one byte out, the same byte back.
void BM_SetupLatency(benchmark::State& prmState) {
  Guarded(prmState, [&] {
    TTcpTestServer echo(TTcpServerMode::Echo);
    echo.Start();
    TRoute route(static_cast<TPath>(prmState.range(0)), echo.Port());
    for (auto _ : prmState) {
      int s = ConnectTo(route.Port());
      char c = 'x';
      pollfd pfd{s, POLLIN, 0};
      if (s < 0 || send(s, &c, 1, MSG_NOSIGNAL) != 1 || poll(&pfd, 1, kWaitMs) != 1 ||
          recv(s, &c, 1, 0) != 1) {
        prmState.SkipWithError("no echo");
        if (s >= 0) close(s);
        break;
      }
      close(s);
    }
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
BENCHMARK(BM_Hold499)->Apply(Paths)->Iterations(3);

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
