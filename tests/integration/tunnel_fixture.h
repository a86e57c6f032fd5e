// A tunnel manager connected to the reference gateway over loopback TLS, for the tunnel tests.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "testpeer/GatewayPeer.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel::test {

constexpr int kWaitMs = 20000;

// A blocking TCP connection to a local listener; -1 when refused.
inline int ConnectLocal(int prmPort) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(prmPort));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
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

class TTunnelTest : public ::testing::Test {
 protected:
  // Starts the gateway with prmScenario; the manager is created but not connected.
  void StartPeer(testpeer::TGatewayScenario prmScenario = {}) {
    m_Peer = std::make_unique<testpeer::TGatewayPeer>(std::move(prmScenario));
    m_Port = m_Peer->Start();
    m_Mng = std::make_unique<CAppMngMorv>("127.0.0.1", m_Port, "sid=abc", "sess", "mod", "dev-7");
  }
  // StartPeer, InitControlConnection and the wait for the tunnel-up message.
  void Connect(testpeer::TGatewayScenario prmScenario = {}) {
    StartPeer(std::move(prmScenario));
    m_Mng->InitControlConnection();
    ASSERT_TRUE(m_Mng->IsReady(kWaitMs));
  }
  void TearDown() override {
    m_Mng.reset();
    if (m_Peer) m_Peer->Stop();
  }

  std::unique_ptr<testpeer::TGatewayPeer> m_Peer;
  std::unique_ptr<CAppMngMorv> m_Mng;
  uint16_t m_Port = 0;
};

}  // namespace vantrel::test
