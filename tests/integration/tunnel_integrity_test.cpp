#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>
#include <vector>

#include "testpeer/TcpTestServer.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

// One application connection: writes its bytes while a second thread reads the echo back.
bool EchoThrough(int prmPort, const std::vector<uint8_t>& prmData) {
  int s = ConnectLocal(prmPort);
  if (s < 0) return false;
  std::vector<uint8_t> back;
  back.reserve(prmData.size());
  std::thread reader([&] {
    uint8_t buf[16384];
    while (back.size() < prmData.size()) {
      ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      back.insert(back.end(), buf, buf + n);
    }
  });
  size_t off = 0;
  while (off < prmData.size()) {
    size_t piece = std::min<size_t>(prmData.size() - off, 1 + (off * 7919) % 9000);
    ssize_t n = send(s, prmData.data() + off, piece, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  reader.join();
  close(s);
  return back == prmData;
}

TEST_F(TTunnelTest, HundredConcurrentConnectionsStayByteIdentical) {
  testpeer::TTcpTestServer echo(testpeer::TTcpServerMode::Echo);
  uint16_t local = echo.Start();
  testpeer::TGatewayScenario sc;
  sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(local);
  sc.RecordDataLimit = 0;
  Connect(sc);
  int port = 0;
  ASSERT_TRUE(m_Mng->AddConn("10.0.0.5", 3389, 0, port, nullptr, 0, 1, 0, false, false));

  constexpr int kConns = 100;
  std::mt19937 rng(20261209);
  std::vector<std::vector<uint8_t>> data(kConns);
  for (int i = 0; i < kConns; ++i) {
    // Mostly small exchanges, every tenth one of several megabytes.
    size_t size = i % 10 == 0 ? 1 + rng() % (4u << 20) : 1 + rng() % 65536;
    data[i].resize(size);
    for (auto& b : data[i]) b = static_cast<uint8_t>(rng());
  }
  std::vector<int> ok(kConns, 0);
  std::vector<std::thread> clients;
  for (int i = 0; i < kConns; ++i)
    clients.emplace_back([&, i] { ok[i] = EchoThrough(port, data[i]); });
  for (auto& t : clients) t.join();
  for (int i = 0; i < kConns; ++i)
    EXPECT_TRUE(ok[i]) << "connection " << i << ", " << data[i].size() << " bytes";
  EXPECT_TRUE(m_Peer->Errors().empty()) << m_Peer->Errors()[0];
  // Every application closed its side: every identifier came free again.
  EXPECT_TRUE(Eventually([&] { return m_Mng->GetConnsCount() == 0; }));
}

}  // namespace
}  // namespace vantrel::test
