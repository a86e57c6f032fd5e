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

#include "BenchRoute.h"
#include "BenchTrust.h"
#include "diag/Exceptions.h"
#include "testpeer/TcpTestServer.h"

namespace vantrel {
namespace {

using namespace bench;
using testpeer::TTcpServerMode;
using testpeer::TTcpTestServer;

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
