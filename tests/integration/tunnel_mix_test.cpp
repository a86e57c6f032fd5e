// Bulk and interactive traffic through one tunnel at once, with gateway data messages longer
// than a client would send: a connection flooded by its destination, one whose application
// pauses before reading, and an idle one that keeps answering; and several applications
// uploading at once, whose data shares the tunnel's records. Both protocols.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "testpeer/TcpTestServer.h"
#include "tunnel/TCSProtocolPelx.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TTcpServerMode;
using testpeer::TTcpTestServer;
using TClock = std::chrono::steady_clock;

constexpr uint64_t kFlood = 3u << 20;

// Reads prmWant bytes after prmPauseMs of not reading; true when they are the source's pattern.
bool ReceivesPattern(int prmSock, uint64_t prmWant, int prmPauseMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(prmPauseMs));
  uint8_t buf[65536];
  uint64_t got = 0;
  bool same = true;
  pollfd pfd{prmSock, POLLIN, 0};
  while (got < prmWant && poll(&pfd, 1, kWaitMs) == 1) {
    ssize_t n = recv(prmSock, buf, sizeof buf, 0);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) same &= buf[i] == TTcpTestServer::PatternByte(got + i);
    got += static_cast<uint64_t>(n);
  }
  return same && got == prmWant;
}

std::unique_ptr<CAppMng> OpenTunnel(testpeer::TProtocol prmProtocol, uint16_t prmGateway) {
  std::unique_ptr<CAppMng> mng;
  if (prmProtocol == testpeer::TProtocol::First)
    mng = std::make_unique<CAppMngMorv>("127.0.0.1", prmGateway, "c", "s", "m", "d");
  else
    mng = std::make_unique<CAppMngPelx>("127.0.0.1", prmGateway, "c", "a+b", "m");
  mng->InitControlConnection();
  return mng;
}

// Each application sends its own pattern while the others send theirs, and reads it back from an
// echo destination: messages of several connections packed together must keep every connection's
// bytes whole and in order.
TEST(TunnelMix, ConcurrentUploadsArriveWholeAndInOrder) {
  constexpr size_t kUpload = 1u << 20;
  constexpr int kConns = 4;
  TTcpTestServer echo(TTcpServerMode::Echo);
  const uint16_t echoPort = echo.Start();
  for (auto protocol : {testpeer::TProtocol::First, testpeer::TProtocol::Legacy}) {
    SCOPED_TRACE(testpeer::ProtocolName(protocol));
    testpeer::TGatewayScenario sc;
    sc.Protocol = protocol;
    sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(echoPort);
    testpeer::TGatewayPeer peer(sc);
    std::unique_ptr<CAppMng> mng = OpenTunnel(protocol, peer.Start());
    ASSERT_TRUE(mng->IsReady(kWaitMs));
    int port = 0;
    ASSERT_TRUE(mng->AddConn("10.0.0.5", 3389, 0, port, nullptr, 0, 1, 0, false, false));
    bool same[kConns] = {};
    std::vector<std::thread> apps;
    for (int c = 0; c < kConns; ++c)
      apps.emplace_back([&, c] {
        std::vector<uint8_t> out(kUpload), in;
        for (size_t i = 0; i < kUpload; ++i) out[i] = static_cast<uint8_t>(i * (c + 3) + c);
        const int s = ConnectLocal(port);
        if (s < 0) return;
        std::thread writer([&] { send(s, out.data(), out.size(), MSG_NOSIGNAL); });
        uint8_t buf[65536];
        pollfd pfd{s, POLLIN, 0};
        while (in.size() < kUpload && poll(&pfd, 1, kWaitMs) == 1) {
          ssize_t n = recv(s, buf, sizeof buf, 0);
          if (n <= 0) break;
          in.insert(in.end(), buf, buf + n);
        }
        writer.join();
        close(s);
        same[c] = in == out;
      });
    for (std::thread& t : apps) t.join();
    for (int c = 0; c < kConns; ++c) EXPECT_TRUE(same[c]) << "connection " << c;
    EXPECT_TRUE(peer.Errors().empty()) << peer.Errors()[0];
    mng.reset();
    peer.Stop();
  }
}

TEST(TunnelMix, FloodPauseAndIdleConnectionsShareTheTunnel) {
  TTcpTestServer source(TTcpServerMode::Source, kFlood);
  TTcpTestServer echo(TTcpServerMode::Echo);
  const uint16_t sourcePort = source.Start(), echoPort = echo.Start();
  for (auto protocol : {testpeer::TProtocol::First, testpeer::TProtocol::Legacy}) {
    SCOPED_TRACE(testpeer::ProtocolName(protocol));
    testpeer::TGatewayScenario sc;
    sc.Protocol = protocol;
    sc.Mapping["10.0.0.6:80"] = "127.0.0.1:" + std::to_string(sourcePort);
    sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(echoPort);
    sc.DataPieceSize = 3000;  // above the 1,024 bytes a data message should carry
    sc.RecordDataLimit = 0;
    testpeer::TGatewayPeer peer(sc);
    std::unique_ptr<CAppMng> mng = OpenTunnel(protocol, peer.Start());
    ASSERT_TRUE(mng->IsReady(kWaitMs));
    int bulkPort = 0, idlePort = 0;
    ASSERT_TRUE(mng->AddConn("10.0.0.6", 80, 0, bulkPort, nullptr, 0, 1, 0, false, false));
    ASSERT_TRUE(mng->AddConn("10.0.0.5", 3389, 0, idlePort, nullptr, 0, 1, 0, false, false));

    const int idle = ConnectLocal(idlePort);
    ASSERT_GE(idle, 0);
    std::atomic<bool> bulkDone{false};
    bool floodOk = false, pausedOk = false;
    std::thread flood([&] {
      int s = ConnectLocal(bulkPort);
      floodOk = s >= 0 && ReceivesPattern(s, kFlood, 0);
      if (s >= 0) close(s);
    });
    std::thread paused([&] {
      int s = ConnectLocal(bulkPort);
      pausedOk = s >= 0 && ReceivesPattern(s, kFlood, 300);
      if (s >= 0) close(s);
    });
    // The idle connection answers all along: one byte out, the same byte back.
    int answered = 0, asked = 0;
    auto slowest = TClock::duration::zero();
    std::thread watch([&] {
      flood.join();
      paused.join();
      bulkDone = true;
    });
    while (!bulkDone || asked < 5) {
      const uint8_t c = static_cast<uint8_t>('a' + asked % 26);
      uint8_t back = 0;
      const auto sent = TClock::now();
      pollfd pfd{idle, POLLIN, 0};
      ++asked;
      if (send(idle, &c, 1, MSG_NOSIGNAL) == 1 && poll(&pfd, 1, kWaitMs) == 1 &&
          recv(idle, &back, 1, 0) == 1 && back == c)
        ++answered;
      slowest = std::max(slowest, TClock::now() - sent);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    watch.join();
    close(idle);
    EXPECT_TRUE(floodOk);
    EXPECT_TRUE(pausedOk);
    EXPECT_EQ(answered, asked);
    EXPECT_LT(slowest, std::chrono::seconds(5));
    EXPECT_TRUE(peer.Errors().empty()) << peer.Errors()[0];
    mng.reset();
    peer.Stop();
  }
}

}  // namespace
}  // namespace vantrel::test
