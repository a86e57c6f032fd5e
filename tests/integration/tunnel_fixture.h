// A tunnel manager of either protocol connected to the reference gateway over loopback TLS, for
// the tunnel tests. The fixture is templated on a protocol's traits; cases that hold for both
// protocols are typed tests over TProtocols, cases of one protocol use its alias.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diag/Exceptions.h"
#include "proxy/ProxyUtils.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerSocket.h"
#include "testpeer/TcpTestServer.h"
#include "tunnel/TCSProtocolMorv.h"
#include "tunnel/TCSProtocolPelx.h"

namespace vantrel::test {

constexpr int kWaitMs = 20000;

// A blocking TCP connection to a local listener; -1 when refused.
inline int ConnectLocal(int prmPort) {
  return testpeer::ConnectLoopback(static_cast<uint16_t>(prmPort));
}

// A loopback port whose connections complete in the backlog but are never served: a gateway
// that takes the connection and never starts the TLS handshake. With prmClose, each connection
// is taken and closed instead.
class TDeafGateway {
 public:
  explicit TDeafGateway(bool prmClose = false) : m_Close(prmClose) {
    m_Sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t len = sizeof a;
    if (bind(m_Sock, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(m_Sock, 8) == 0)
      getsockname(m_Sock, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    // Connections are taken and closed at once, or kept open and never read.
    m_Thd = std::thread([this] {
      for (int c; (c = accept(m_Sock, nullptr, nullptr)) >= 0;) {
        if (m_Close) {
          close(c);
          continue;
        }
        std::lock_guard<std::mutex> g(m_Lock);
        m_Held.push_back(c);
      }
    });
  }
  ~TDeafGateway() {
    ::shutdown(m_Sock, SHUT_RDWR);  // ends the accept
    if (m_Thd.joinable()) m_Thd.join();
    close(m_Sock);
    for (int c : m_Held) close(c);
  }
  uint16_t Port() const { return m_Port; }
  // Whether a client's first bytes (its TLS hello) arrived within prmMs on a held connection.
  bool WaitForBytes(int prmMs) {
    for (int waited = 0; waited < prmMs; waited += 10) {
      {
        std::lock_guard<std::mutex> g(m_Lock);
        for (int c : m_Held) {
          pollfd p{c, POLLIN, 0};
          if (poll(&p, 1, 0) == 1) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  bool m_Close;
  int m_Sock = -1;
  uint16_t m_Port = 0;
  std::mutex m_Lock;
  std::vector<int> m_Held;
  std::thread m_Thd;
};

// All of prmLen bytes, or false when the socket failed first.
inline bool SendAll(int prmSock, const uint8_t* prmData, size_t prmLen) {
  for (size_t off = 0; off < prmLen;) {
    ssize_t n = send(prmSock, prmData + off, prmLen - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}
inline bool SendAll(int prmSock, const std::vector<uint8_t>& prmData) {
  return SendAll(prmSock, prmData.data(), prmData.size());
}

inline int CountDir(const char* prmPath) {
  int n = 0;
  if (DIR* d = opendir(prmPath)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}
// Polls prmDone until it holds or prmTimeoutMs passed; for states no peer reports as they change.
template <typename TPred>
bool Eventually(TPred prmDone, int prmTimeoutMs = kWaitMs) {
  for (int waited = 0; !prmDone(); waited += 10) {
    if (waited >= prmTimeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// What opening the control connection raised; "" when it opened.
inline std::string InitError(CAppMng& prmMng) {
  try {
    prmMng.InitControlConnection();
  } catch (const EBaseException& e) {
    return e.GetMsg();
  }
  return "";
}

inline int OpenFds() {
  return CountDir("/proc/self/fd");
}
// What each open descriptor is, for failure messages.
inline std::string FdList() {
  std::string out;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      char target[256] = {};
      std::string path = std::string("/proc/self/fd/") + e->d_name;
      if (readlink(path.c_str(), target, sizeof target - 1) > 0)
        out += std::string(e->d_name) + "=" + target + " ";
    }
    closedir(d);
  }
  return out;
}
inline int Threads() {
  return CountDir("/proc/self/task");
}
// Threads and descriptors once libraries loaded by earlier steps have settled (GLib starts its
// workers, which open files for a moment): what two readings in a row agree on, within 5 s.
inline std::pair<int, int> SettledThreadsAndFds() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  auto read = [] { return std::make_pair(Threads(), OpenFds()); };
  auto now = read();
  for (auto last = std::make_pair(-1, -1);
       now != last && std::chrono::steady_clock::now() < deadline;) {
    last = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    now = read();
  }
  return now;
}

// Where the two protocols differ in what a test sets up or expects.
struct TFirstProtocol {
  using TMng = CAppMngMorv;
  static constexpr testpeer::TProtocol kProtocol = testpeer::TProtocol::First;
  static constexpr const char* kSessCookie = "sess";
  static constexpr const char* kModuleID = "mod";
  // The address forwarded connections ask for; the gateway's mapping leads it to a local server.
  static constexpr const char* kDestIP = "10.0.0.5";
  static std::unique_ptr<TMng> Make(const std::string& prmSP, uint16_t prmPort,
                                    const std::string& prmSessCookie = kSessCookie,
                                    const std::string& prmModuleID = kModuleID) {
    return std::make_unique<TMng>(prmSP, prmPort, "sid=abc", prmSessCookie, prmModuleID, "dev-7");
  }
  // A connection's messages name its destination.
  static void ExpectConnEnd(const testpeer::TPeerMessage& prmMsg) {
    EXPECT_EQ(FormatDottedQuad(prmMsg.DestAddr), kDestIP);
  }
  // The open request of connection 2 to kDestIP:3389.
  static TBytes OpenOfConnTwo() {
    return {0x09, 0, 0, 0, 0x05, 0, 0, 0x0a, 0x0d, 0x3d, 0x00, 0x02, 0, 0, 0, 0};
  }
  // Replies that do not open the tunnel.
  static std::vector<std::string> RefusedReplies() {
    return {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.1 403 Forbidden\r\n\r\n"};
  }
  // How many of three connections a listener with a security-RDP identifier lets through.
  struct TAcceptCase {
    bool SSO, SSP;
    size_t Allowed;
  };
  static std::vector<TAcceptCase> AcceptCases() { return {{true, true, 2}, {true, false, 1}}; }
  // Whether the gateway hears that an application closed its connection.
  static constexpr bool kSignalsApplicationClose = true;
  // The window messages a loss sends, in order; a gateway still reachable gets the reconnect
  // notice after the loss notice.
  static std::vector<uint32_t> LossNotices(TMng& prmMng, uint32_t prmLost, uint32_t prmReconnect) {
    prmMng.SetReConnectMSGID(prmReconnect);
    return {prmLost, prmReconnect};
  }
  // The reachability check after a loss pauses briefly between its probes.
  static void QuickReachability(TMng& prmMng) {
    TOnlineCheck check;
    check.Attempts = TMng::kOnlineAttempts;
    check.PauseMs = 20;
    prmMng.SetOnlineCheck(check);
  }
};

struct TLegacyProtocol {
  using TMng = CAppMngPelx;
  static constexpr testpeer::TProtocol kProtocol = testpeer::TProtocol::Legacy;
  static constexpr const char* kSessCookie = "abc+XYZ";
  static constexpr const char* kModuleID = "mod-1";
  static constexpr const char* kDestIP = "127.0.0.5";
  static std::unique_ptr<TMng> Make(const std::string& prmSP, uint16_t prmPort,
                                    const std::string& prmSessCookie = kSessCookie,
                                    const std::string& prmModuleID = kModuleID) {
    return std::make_unique<TMng>(prmSP, prmPort, "sid=abc", prmSessCookie, prmModuleID);
  }
  // A connection's messages name the client's end, the loopback address and 135, whatever the
  // destination.
  static void ExpectConnEnd(const testpeer::TPeerMessage& prmMsg) {
    ASSERT_EQ(prmMsg.Header.size(), 13u);
    EXPECT_EQ(TBytes(prmMsg.Header.begin() + 1, prmMsg.Header.begin() + 7),
              TBytes({0x7f, 0, 0, 1, 0x00, 0x87}));
  }
  static TBytes OpenOfConnTwo() {
    return {0x09, 0x7f, 0x00, 0x00, 0x01, 0x00, 0x87, 0x00, 0x02, 0x00, 0x00,
            0x00, 0x08, 0x00, 0x04, 0x0d, 0x3d, 0x7f, 0x00, 0x00, 0x05};
  }
  static std::vector<std::string> RefusedReplies() {
    const std::string ok = "HTTP/1.1 200 Connection Established\r\n\r\n";
    return {ok + "x", "HTTP/1.1 200 OK\r\n\r\n"};
  }
  using TAcceptCase = TFirstProtocol::TAcceptCase;
  // Only single sign-on counts.
  static std::vector<TAcceptCase> AcceptCases() { return {{true, false, 2}, {false, true, 1}}; }
  static constexpr bool kSignalsApplicationClose = false;
  static std::vector<uint32_t> LossNotices(TMng&, uint32_t prmLost, uint32_t) { return {prmLost}; }
  static void QuickReachability(TMng&) {}  // no check after a loss
};

template <typename TProto>
class TTunnelTest : public ::testing::Test {
 protected:
  using TMng = typename TProto::TMng;

  // Proxy discovery reads GNOME's settings through GLib, which starts its worker threads and
  // wake-up descriptors once per process: let that happen before a test counts them.
  static void SetUpTestSuite() {
    std::vector<std::string> proxies;
    bool direct = true;
    DetectProxyForHost("localhost", proxies, direct);
  }

  // Starts the gateway speaking TProto; the manager is created but not connected.
  void StartPeer(testpeer::TGatewayScenario prmScenario = {},
                 const std::string& prmSessCookie = TProto::kSessCookie,
                 const std::string& prmModuleID = TProto::kModuleID) {
    prmScenario.Protocol = TProto::kProtocol;
    m_Peer = std::make_unique<testpeer::TGatewayPeer>(std::move(prmScenario));
    m_Port = m_Peer->Start();
    m_Mng = TProto::Make("127.0.0.1", m_Port, prmSessCookie, prmModuleID);
  }
  // StartPeer, InitControlConnection and the wait for the tunnel-up message.
  void Connect(testpeer::TGatewayScenario prmScenario = {},
               const std::string& prmSessCookie = TProto::kSessCookie,
               const std::string& prmModuleID = TProto::kModuleID) {
    StartPeer(std::move(prmScenario), prmSessCookie, prmModuleID);
    m_Mng->InitControlConnection();
    ASSERT_TRUE(m_Mng->IsReady(kWaitMs));
  }
  // A gateway whose destinations kDestIP:<any of prmPorts> lead to a local server of prmMode.
  testpeer::TGatewayScenario ScenarioTo(testpeer::TTcpServerMode prmMode,
                                        std::vector<int> prmPorts = {3389}) {
    m_Server = std::make_unique<testpeer::TTcpTestServer>(prmMode);
    uint16_t local = m_Server->Start();
    testpeer::TGatewayScenario sc;
    for (int p : prmPorts)
      sc.Mapping[std::string(TProto::kDestIP) + ":" + std::to_string(p)] =
          "127.0.0.1:" + std::to_string(local);
    return sc;
  }
  void ConnectTo(testpeer::TTcpServerMode prmMode, std::vector<int> prmPorts = {3389}) {
    Connect(ScenarioTo(prmMode, std::move(prmPorts)));
  }
  // A listener forwarding to kDestIP:prmDestPort; its local port.
  int Listen(int prmDestPort = 3389, int prmSec = 0, bool prmSSO = false, bool prmSSP = false,
             HWND prmWnd = nullptr, uint32_t prmMsg = 0) {
    int port = 0;
    EXPECT_TRUE(m_Mng->AddConn(TProto::kDestIP, prmDestPort, 0, port, prmWnd, prmMsg, 1, prmSec,
                               prmSSO, prmSSP));
    return port;
  }
  size_t OpensTo(int prmDestPort) {
    size_t n = 0;
    for (const auto& m : m_Peer->ReceivedMessages(mcOpen)) n += m.DestPort == prmDestPort;
    return n;
  }
  void TearDown() override {
    m_Mng.reset();
    if (m_Peer) m_Peer->Stop();
    m_Server.reset();
  }

  std::unique_ptr<testpeer::TGatewayPeer> m_Peer;
  std::unique_ptr<TMng> m_Mng;
  std::unique_ptr<testpeer::TTcpTestServer> m_Server;
  uint16_t m_Port = 0;
};

using TProtocols = ::testing::Types<TFirstProtocol, TLegacyProtocol>;
struct TProtocolNames {
  template <typename TProto>
  static std::string GetName(int) {
    return TProto::kProtocol == testpeer::TProtocol::First ? "First" : "Legacy";
  }
};

using TFirstTunnelTest = TTunnelTest<TFirstProtocol>;
using TLegacyTunnelTest = TTunnelTest<TLegacyProtocol>;

}  // namespace vantrel::test
