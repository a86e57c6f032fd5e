// A tunnel manager connected to the reference gateway over loopback TLS, for the tunnel tests.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testpeer/GatewayPeer.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel::test {

constexpr int kWaitMs = 20000;

inline int CountDir(const char* prmPath) {
  int n = 0;
  if (DIR* d = opendir(prmPath)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}
inline int OpenFds() {
  return CountDir("/proc/self/fd");
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
