// Cost of the tunnel's control connection against a plain TLS echo on the same loopback: one
// request with its answer (GetTimers), and small messages bounced through a forwarded connection.
// Both report their time per operation; RESULTS.md gives the ratios.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchTrust.h"
#include "platform/Event.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerSocket.h"
#include "testpeer/PeerTls.h"
#include "testpeer/TcpTestServer.h"
#include "tls/sspi.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel {
namespace {

int ConnectLocal(uint16_t prmPort) {
  return testpeer::ConnectLoopback(prmPort, true);
}

// A TLS echo server for one connection at a time, on its own thread.
class TTlsEcho {
 public:
  TTlsEcho() : m_Ctx(testpeer::CreateServerContext({})) {
    m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(m_Listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    listen(m_Listen, 4);
    m_Thd = std::thread([this] { Serve(); });
  }
  ~TTlsEcho() {
    shutdown(m_Listen, SHUT_RDWR);
    m_Thd.join();
    close(m_Listen);
  }
  uint16_t Port() const { return m_Port; }

 private:
  void Serve() {
    int s = accept(m_Listen, nullptr, nullptr);
    if (s < 0) return;
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SSL* ssl = SSL_new(m_Ctx.get());
    SSL_set_fd(ssl, s);
    if (SSL_accept(ssl) == 1) {
      char buf[16384];
      int n;
      while ((n = SSL_read(ssl, buf, sizeof buf)) > 0)
        if (SSL_write(ssl, buf, n) != n) break;
    }
    SSL_free(ssl);
    close(s);
  }

  testpeer::TSslCtxPtr m_Ctx;
  int m_Listen;
  uint16_t m_Port;
  std::thread m_Thd;
};

// Round trips of prmSize bytes over a plain TLS connection, through the same channel class the
// tunnel uses.
void BM_PlainTlsEcho(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  TTlsEcho echo;
  LoadSecurityLibrary();
  {
    int s = ConnectLocal(echo.Port());
    CSSPI tls(2);
    if (!tls.PerformHandshake(s, "127.0.0.1", 2)) state.SkipWithError("handshake failed");
    std::vector<uint8_t> out(size, 0x42), in(size);
    for (auto _ : state) {
      tls.SendSec(s, out.data(), size);
      int got = 0;
      while (got < size) {
        int n = 0;
        tls.RecvSec(s, in.data() + got, size - got, n);
        if (n == 0) break;
        got += n;
      }
      if (got != size) {
        state.SkipWithError("echo ended");
        break;
      }
    }
    close(s);
  }
  UnloadSecurityLibrary();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainTlsEcho)->Arg(16)->Arg(64)->UseRealTime();

struct TTunnel {
  testpeer::TTcpTestServer Echo{testpeer::TTcpServerMode::Echo};
  std::unique_ptr<testpeer::TGatewayPeer> Peer;
  std::unique_ptr<CAppMngMorv> Mng;

  TTunnel() {
    testpeer::TGatewayScenario sc;
    sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(Echo.Start());
    sc.RecordDataLimit = 0;
    Peer = std::make_unique<testpeer::TGatewayPeer>(sc);
    uint16_t port = Peer->Start();
    Mng = std::make_unique<CAppMngMorv>("127.0.0.1", port, "c", "s", "m", "d");
    Mng->InitControlConnection();
    Mng->IsReady(10000);
  }
};

// One request and its answer on the control connection.
void BM_TunnelRequestRoundTrip(benchmark::State& state) {
  TTunnel t;
  for (auto _ : state) {
    uint32_t idle = 0, life = 0;
    t.Mng->GetTimers(idle, life);
    benchmark::DoNotOptimize(idle);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TunnelRequestRoundTrip)->UseRealTime();

// Small messages bounced through a forwarded connection: application, tunnel, gateway, echo
// server and back.
void BM_TunnelSmallMessageEcho(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  TTunnel t;
  int port = 0;
  t.Mng->AddConn("10.0.0.5", 3389, 0, port, nullptr, 0, 1, 0, false, false);
  int s = ConnectLocal(static_cast<uint16_t>(port));
  std::vector<uint8_t> out(size, 0x42), in(size);
  for (auto _ : state) {
    send(s, out.data(), size, MSG_NOSIGNAL);
    size_t got = 0;
    while (got < size) {
      ssize_t n = recv(s, in.data() + got, size - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got != size) {
      state.SkipWithError("echo ended");
      break;
    }
  }
  close(s);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TunnelSmallMessageEcho)->Arg(64)->UseRealTime();

// Made before any gateway starts: the peers read the key, the clients the pin.
const bench::TBenchGatewayKey g_GatewayKey;

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
