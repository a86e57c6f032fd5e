// The forwarding paths under a standard load generator: iperf3 (128 KiB writes, one stream and
// 8 streams, upstream and downstream with -R) through each path of BenchRoute.h, against an
// iperf3 server on loopback. Throughput is iperf3's own (the receiver's bytes over its time);
// CPU per GB is the forwarding client's, read from /proc around the run as in the other
// forwarding benchmarks. The downstream direction is the screen's: server to client.
//
// Arguments: path (as BenchRoute.h), streams, down (0 upstream, 1 downstream).
// VANTREL_IPERF_SECONDS sets each run's length (default 5).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "BenchRoute.h"
#include "BenchTrust.h"

namespace vantrel {
namespace {

using namespace bench;

constexpr char kIperf[] = "/usr/bin/iperf3";

int IperfSeconds() {
  const char* s = std::getenv("VANTREL_IPERF_SECONDS");
  const int n = s ? std::atoi(s) : 0;
  return n > 0 ? n : 5;
}

// An iperf3 server on a free loopback port, for one benchmark's runs.
class TIperfServer {
 public:
  TIperfServer() : m_Port(FreePort()) {
    std::vector<std::string> args = {kIperf, "-s", "-B", "127.0.0.1", "-p", std::to_string(m_Port)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    // Its complaints about the readiness probe's empty connection are not worth showing.
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&m_Pid, kIperf, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw EBaseException("cannot start iperf3: install Debian's iperf3 package");
    for (int i = 0; i < 100; ++i) {
      const int s = ConnectTo(m_Port);
      if (s >= 0) {
        close(s);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw EBaseException("the iperf3 server did not start");
  }
  ~TIperfServer() {
    kill(m_Pid, SIGTERM);
    waitpid(m_Pid, nullptr, 0);
  }
  int Port() const { return m_Port; }

 private:
  int m_Port;
  pid_t m_Pid = -1;
};

// One iperf3 client run to prmPort; the receiver's totals from its JSON report.
struct TIperfResult {
  double Bytes = 0, BitsPerSecond = 0;
};

TIperfResult RunIperf(int prmPort, int prmStreams, bool prmDown) {
  std::string cmd = std::string(kIperf) + " -c 127.0.0.1 -p " + std::to_string(prmPort) + " -t " +
                    std::to_string(IperfSeconds()) + " -l 128K -P " + std::to_string(prmStreams) +
                    (prmDown ? " -R" : "") + " -J 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) throw EBaseException("cannot run iperf3");
  std::string out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = pclose(p);
  const nlohmann::json report = nlohmann::json::parse(out, nullptr, false);
  if (rc != 0 || report.is_discarded() || !report.contains("end"))
    throw EBaseException("iperf3 failed: " + out.substr(0, 300));
  const nlohmann::json& received = report["end"]["sum_received"];
  return {received.value("bytes", 0.0), received.value("bits_per_second", 0.0)};
}

void BM_Iperf(benchmark::State& prmState) {
  Guarded(prmState, [&] {
    TIperfServer server;
    TRoute route(static_cast<TPath>(prmState.range(0)), server.Port());
    const int streams = static_cast<int>(prmState.range(1));
    const bool down = prmState.range(2) != 0;
    double bytes = 0, rate = 0;
    TCpuMeter cpu(route);
    for (auto _ : prmState) {
      TIperfResult r = RunIperf(route.Port(), streams, down);
      bytes += r.Bytes;
      rate += r.BitsPerSecond / 8;
    }
    cpu.Report(prmState, bytes);
    prmState.counters["MB_per_s"] = rate / static_cast<double>(prmState.iterations()) / 1e6;
  });
}

void Runs(benchmark::internal::Benchmark* prmBench) {
  prmBench->ArgNames({"path", "streams", "down"});
  for (int down : {0, 1})
    for (int streams : {1, 8})
      for (int p = pDirect; p <= pLegacy; ++p) prmBench->Args({p, streams, down});
  prmBench->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);
}

BENCHMARK(BM_Iperf)->Apply(Runs);

// Made before any gateway starts: the peers read the key, the clients the pin.
const bench::TBenchGatewayKey g_GatewayKey;

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
