// A gateway that fails at each stage, over both protocols: what the client reports, that every
// wait ends within its bound, and that nothing (thread, descriptor, listener) is left behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/Window.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;
using TClock = std::chrono::steady_clock;

constexpr uint32_t kLost = WM_USER + 1;
constexpr uint32_t kReconnect = WM_USER + 12;
// How long the client may take to notice a fault it can see, and to end every wait once told.
constexpr int kNoticeMs = 5000;
constexpr int kReleaseMs = 2000;
// A gateway that leaves a request unanswered this long counts as lost.
constexpr int kRequestTimeoutMs = 500;

int ElapsedMs(TClock::time_point prmSince) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - prmSince).count());
}

template <typename TProto>
class TFaultTest : public TTunnelTest<TProto> {
 protected:
  void Baseline() {
    // A runtime that starts a helper thread with the first thread (ThreadSanitizer) has it now.
    std::thread([] {}).join();
    std::tie(m_Threads, m_Fds) = SettledThreadsAndFds();
  }
  // After the manager and the gateway are gone, so is everything they started or opened.
  void ExpectNothingLeft() {
    this->m_Mng.reset();
    this->m_Peer.reset();
    this->m_Server.reset();
    EXPECT_TRUE(Eventually([&] { return Threads() == m_Threads; }, kNoticeMs)) << Threads();
    EXPECT_TRUE(Eventually([&] { return OpenFds() == m_Fds; }, kNoticeMs)) << FdList();
  }
  // The window messages the manager sent until prmUntil holds or prmMs passed.
  template <typename TPred>
  void Pump(TWindow& prmWnd, TPred prmUntil, int prmMs) {
    for (auto start = TClock::now(); !prmUntil() && ElapsedMs(start) < prmMs;)
      prmWnd.WaitMessage(50);
  }

  int m_Threads = 0;
  int m_Fds = 0;
};
TYPED_TEST_SUITE(TFaultTest, TProtocols, TProtocolNames);

// Start-up that the gateway stalls or ends at each step. A stall is ended by Cancel (what the
// session's destruction does); a close by the gateway ends the set-up on its own.
TYPED_TEST(TFaultTest, StartupStallsEndOnCancelAndClosesFailPromptly) {
  enum class TGw { Deaf, Closing, Peer, DeafProxy };
  struct TCase {
    const char* Name;
    TGw Gateway;
    std::function<void(TGatewayScenario&)> Setup;
    // Waits until the gateway reached the step, then stalls or closes there.
    std::function<bool(testpeer::TGatewayPeer*)> Reached;
    bool Cancel;            // else the gateway closes the connection at that step
    const char* InitError;  // what InitControlConnection raises ("" for none)
  };
  auto never = [](TGatewayScenario& prmSc) { prmSc.HttpReplyDelayMs = -1; };
  auto noUp = [](TGatewayScenario& prmSc) { prmSc.TunnelUpCode = 0; };
  auto request = [](testpeer::TGatewayPeer* prmPeer) {
    return prmPeer->WaitForHttpRequest(kWaitMs);
  };
  auto init = [](testpeer::TGatewayPeer* prmPeer) {
    return prmPeer->WaitForMessage(mcInit, kWaitMs).has_value();
  };
  auto settle = [](testpeer::TGatewayPeer*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return true;
  };
  const TCase cases[] = {
      {"no TLS handshake",
       TGw::Deaf,
       {},
       settle,
       true,
       "Failed to connect to gateway (SSL failed)"},
      {"reply never comes", TGw::Peer, never, request, true,
       "Failed to establish control connection"},
      {"tunnel-up never sent", TGw::Peer, noUp, init, true, ""},
      {"proxy never answers CONNECT",
       TGw::DeafProxy,
       {},
       settle,
       true,
       "Failed to connect to gateway"},
      {"closed before the handshake",
       TGw::Closing,
       {},
       settle,
       false,
       "Failed to connect to gateway (SSL failed)"},
      {"closed before the reply", TGw::Peer, never, request, false, "control connection"},
      {"closed before tunnel-up", TGw::Peer, noUp, init, false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    this->Baseline();
    std::unique_ptr<TDeafGateway> deaf;
    if (c.Gateway == TGw::Peer) {
      TGatewayScenario sc;
      if (c.Setup) c.Setup(sc);
      this->StartPeer(sc);
    } else {
      deaf = std::make_unique<TDeafGateway>(c.Gateway == TGw::Closing);
      this->m_Mng = TypeParam::Make("127.0.0.1", deaf->Port());
      if (c.Gateway == TGw::DeafProxy)
        this->m_Mng->Link().Proxies().SetProxy("127.0.0.1", deaf->Port());
    }
    auto& mng = *this->m_Mng;
    auto setup = std::async(std::launch::async, [&] {
      std::string error;
      try {
        mng.InitControlConnection();
      } catch (const EBaseException& e) {
        error = e.GetMsg();
      }
      const bool ready = mng.IsReady(kWaitMs);
      return std::make_pair(error, ready);
    });
    // A gateway that never answers the handshake is reached once the client's hello is there.
    if (c.Gateway == TGw::Deaf || c.Gateway == TGw::DeafProxy)
      ASSERT_TRUE(deaf->WaitForBytes(kWaitMs));
    else
      ASSERT_TRUE(c.Reached(this->m_Peer.get()));
    const auto start = TClock::now();
    if (c.Cancel)
      mng.Cancel();
    else if (this->m_Peer)
      this->m_Peer->CloseControlConnection();
    ASSERT_EQ(setup.wait_for(std::chrono::milliseconds(kNoticeMs)), std::future_status::ready);
    auto [error, ready] = setup.get();
    EXPECT_LE(ElapsedMs(start), c.Cancel ? kReleaseMs : kNoticeMs);
    if (*c.InitError == '\0')
      EXPECT_EQ(error, "");
    else
      EXPECT_NE(error.find(c.InitError), std::string::npos) << error;
    EXPECT_FALSE(ready);
    deaf.reset();
    this->ExpectNothingLeft();
  }
}

// Faults once the tunnel is up: each that breaks the stream is one loss (the window is told,
// requests end, listeners refuse), and the rest leave the tunnel working.
TYPED_TEST(TFaultTest, MidSessionFaultsTakeTheOneLossPath) {
  auto header = [](uint8_t prmCode, uint16_t prmId, uint32_t prmLen) {
    return testpeer::EncodeHeader(TypeParam::kProtocol,
                                  testpeer::GatewayHeader(prmCode, prmId, prmLen));
  };
  auto send = [](TBytes prmBytes) {
    return [prmBytes](testpeer::TGatewayPeer& prmPeer, CAppMngCommon&) {
      ASSERT_TRUE(prmPeer.SendRaw(prmBytes));
    };
  };
  auto ask = [](testpeer::TGatewayPeer&, CAppMngCommon& prmMng) {
    const auto start = TClock::now();
    EXPECT_EQ(prmMng.GetUsername(true), "");
    EXPECT_LT(ElapsedMs(start), kRequestTimeoutMs + kNoticeMs);
  };
  int port = 0, client = -1;
  TBytes unknown = header(77, 0, 10);
  unknown.resize(unknown.size() + 10, 0xAB);
  struct TCase {
    const char* Name;
    std::function<void(TGatewayScenario&)> Setup;
    std::function<void(testpeer::TGatewayPeer&, CAppMngCommon&)> Fault;
    bool Lost;
  };
  const TCase cases[] = {
      {"closed while idle",
       {},
       [](testpeer::TGatewayPeer& prmPeer, CAppMngCommon&) {
         ASSERT_TRUE(prmPeer.CloseControlConnection());
       },
       true},
      {"closed mid-transfer",
       {},
       [&](testpeer::TGatewayPeer& prmPeer, CAppMngCommon&) {
         // A forwarded connection carrying data both ways when the gateway goes.
         client = ConnectLocal(port);
         ASSERT_GE(client, 0);
         TBytes data(1000, 5), back(1000);
         ASSERT_TRUE(SendAll(client, data));
         ASSERT_EQ(recv(client, back.data(), back.size(), MSG_WAITALL), 1000);
         ASSERT_TRUE(SendAll(client, data));
         ASSERT_TRUE(prmPeer.CloseControlConnection());
       },
       true},
      {"closed mid-message",
       {},
       [&](testpeer::TGatewayPeer& prmPeer, CAppMngCommon&) {
         TBytes part = header(mcData, 1, 4000);
         part.resize(part.size() + 1000, 7);
         ASSERT_TRUE(prmPeer.SendRaw(part));
         ASSERT_TRUE(prmPeer.CloseControlConnection());
       },
       true},
      {"request never answered", [](TGatewayScenario& prmSc) { prmSc.SilentCodes = {mcUserName}; },
       ask, true},
      {"stops reading", [](TGatewayScenario& prmSc) { prmSc.StopReadingAfterMs = 0; }, ask, true},
      {"oversized data length", {}, send(header(mcData, 1, 0x7fffffff)), true},
      {"oversized message", {}, send(header(50, 0, 40000)), true},
      {"unknown message", {}, send(unknown), false},
  };
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    this->Baseline();
    seen.clear();
    TGatewayScenario sc = this->ScenarioTo(testpeer::TTcpServerMode::Echo);
    if (c.Setup) c.Setup(sc);
    this->StartPeer(sc);
    TypeParam::QuickReachability(*this->m_Mng);
    this->m_Mng->InitControlConnection();
    ASSERT_TRUE(this->m_Mng->IsReady(kWaitMs));
    auto& mng = *this->m_Mng;
    mng.Mux().Requests().SetTimeout(kRequestTimeoutMs);
    mng.RegisterOnClose(&wnd, kLost);
    const std::vector<uint32_t> notices = TypeParam::LossNotices(mng, kLost, kReconnect);
    port = this->Listen();
    c.Fault(*this->m_Peer, mng);
    this->Pump(
        wnd, [&] { return !seen.empty(); }, c.Lost ? kNoticeMs : 500);
    if (c.Lost) {
      ASSERT_FALSE(seen.empty());
      EXPECT_EQ(seen[0], kLost);
      EXPECT_FALSE(mng.IsConnected());
      EXPECT_EQ(mng.ResolveHost("x"), 0xFFFFFFFFu);
      // Nothing can be forwarded any more: a client is refused at once.
      EXPECT_EQ(ConnectLocal(port), -1);
      // A reachable gateway is announced after the loss, never before it.
      this->Pump(
          wnd, [&] { return seen.size() >= notices.size(); }, kNoticeMs);
      EXPECT_EQ(seen, notices);
      // What the session does on the notice: the forwarded connections end at once.
      mng.CloseClientConns();
      if (client >= 0) {
        timeval bound{kNoticeMs / 1000, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        uint8_t b[4096];
        ssize_t n;
        while ((n = recv(client, b, sizeof b, 0)) > 0) {
        }
        // Closed, or reset when bytes it had sent were still unread: never the time limit.
        EXPECT_TRUE(n == 0 || errno == ECONNRESET) << n << " " << errno;
      }
    } else {
      EXPECT_TRUE(seen.empty());
      uint32_t idle = 1, life = 1;
      mng.GetTimers(idle, life);
      EXPECT_TRUE(mng.IsConnected());
    }
    const auto start = TClock::now();
    this->m_Mng.reset();
    EXPECT_LE(ElapsedMs(start), kReleaseMs);
    if (client >= 0) close(client);
    client = -1;
    this->ExpectNothingLeft();
  }
}

// Descriptors running out while clients connect: each connection the shortage hits is closed at
// once (never left hanging), and the listener goes on serving once descriptors are back. The
// headroom varies so that the shortage hits each step in turn: the listener's accept, the
// connection's own events, its relay, the gateway's connect and the destination's accept.
TYPED_TEST(TFaultTest, DescriptorShortageRefusesConnectionsAndTheListenerLivesOn) {
  this->ConnectTo(testpeer::TTcpServerMode::Echo);
  const int port = this->Listen();
  constexpr int kClients = 12;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  for (int headroom = 1; headroom <= 7; ++headroom) {
    SCOPED_TRACE("headroom " + std::to_string(headroom));
    // Made before the shortage: the clients' own sockets must not be what runs out.
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(socket(AF_INET, SOCK_STREAM, 0));
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(OpenFds() + headroom);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    int refused = 0;
    for (int c : clients) {
      timeval bound{kNoticeMs / 1000, 0};
      setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
      ASSERT_EQ(connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      uint8_t b = 42;
      // Served: the byte comes back. Refused: the end of the connection. Never the timeout.
      ASSERT_TRUE(SendAll(c, &b, 1) || errno == EPIPE || errno == ECONNRESET);
      ssize_t n = recv(c, &b, 1, 0);
      ASSERT_TRUE(n == 1 || n == 0 || (n < 0 && errno == ECONNRESET)) << n << " " << errno;
      refused += n != 1;
    }
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_GT(refused, 0);
    for (int c : clients) close(c);
    // Descriptors are back: the same listener serves again.
    int again = ConnectLocal(port);
    ASSERT_GE(again, 0);
    timeval bound{kNoticeMs / 1000, 0};
    setsockopt(again, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    uint8_t b = 7;
    ASSERT_TRUE(SendAll(again, &b, 1));
    EXPECT_EQ(recv(again, &b, 1, 0), 1);
    EXPECT_EQ(b, 7);
    close(again);
  }
}

}  // namespace
}  // namespace vantrel::test
