// Byte-exact forwarding under load through both tunnels: many application connections at once,
// each sending and receiving a different amount of data through the reference gateway to a real
// echo server.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

constexpr int kConnections = 100;
constexpr uint64_t kMaxBytes = 3u << 20;
constexpr uint64_t kLargest = 4u << 20;
// A lost or stuck byte fails the test instead of hanging it.
constexpr int kStallSeconds = 60;

// Each connection's bytes: a cheap generator both ends can replay.
struct TPattern {
  explicit TPattern(uint32_t prmSeed) : State(prmSeed * 2654435761u + 1) {}
  uint8_t Next() {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    return static_cast<uint8_t>(State);
  }
  uint32_t State;
};

struct TResult {
  uint64_t Sent = 0, Matched = 0;
  bool Mismatch = false;
};

// One application connection: a writer thread sends the pattern in pieces of varying size while
// this thread checks the echo.
void RunConnection(int prmPort, uint32_t prmSeed, uint64_t prmBytes, TResult& prmResult) {
  int s = ConnectLocal(prmPort);
  timeval tv{kStallSeconds, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::thread writer([&] {
    TPattern p(prmSeed);
    std::mt19937 sizes(prmSeed);
    std::vector<uint8_t> chunk(65536);
    while (prmResult.Sent < prmBytes) {
      size_t n = std::min<uint64_t>(1 + sizes() % chunk.size(), prmBytes - prmResult.Sent);
      for (size_t i = 0; i < n; ++i) chunk[i] = p.Next();
      if (!SendAll(s, chunk.data(), n)) return;
      prmResult.Sent += n;
    }
  });
  TPattern expect(prmSeed);
  std::vector<uint8_t> buf(65536);
  while (prmResult.Matched < prmBytes) {
    ssize_t n = recv(s, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[static_cast<size_t>(i)] != expect.Next()) prmResult.Mismatch = true;
    }
    prmResult.Matched += static_cast<uint64_t>(n);
    if (prmResult.Mismatch) break;
  }
  // Ends a writer stuck behind a failed read.
  shutdown(s, SHUT_RDWR);
  writer.join();
  close(s);
}

TYPED_TEST_SUITE(TTunnelTest, TProtocols, TProtocolNames);

TYPED_TEST(TTunnelTest, HundredConcurrentConnectionsArriveByteIdentical) {
  auto sc = this->ScenarioTo(testpeer::TTcpServerMode::Echo);
  sc.RecordDataLimit = 0;
  this->Connect(sc);
  int listen = this->Listen();

  std::mt19937 rng(20261209);
  std::vector<uint64_t> sizes(kConnections);
  for (auto& n : sizes) n = 1 + rng() % kMaxBytes;
  sizes[0] = kLargest;
  sizes[1] = 1;
  std::vector<TResult> results(kConnections);
  std::vector<std::thread> apps;
  for (int i = 0; i < kConnections; ++i)
    apps.emplace_back(RunConnection, listen, static_cast<uint32_t>(i + 1), sizes[i],
                      std::ref(results[i]));
  for (auto& t : apps) t.join();
  for (int i = 0; i < kConnections; ++i) {
    EXPECT_FALSE(results[i].Mismatch) << "connection " << i;
    EXPECT_EQ(results[i].Matched, sizes[i]) << "connection " << i << ", " << sizes[i] << " bytes";
  }
  EXPECT_TRUE(this->m_Peer->Errors().empty()) << this->m_Peer->Errors()[0];
  // The applications closed their sides: every identifier came free again.
  EXPECT_TRUE(Eventually([&] { return this->m_Mng->Mux().GetConnsCount() == 0; }));
}

}  // namespace
}  // namespace vantrel::test
