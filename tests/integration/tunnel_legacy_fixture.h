// A legacy-header tunnel manager connected to the reference gateway over loopback TLS, and the
// application-side socket helpers the legacy tunnel tests share.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "testpeer/GatewayPeer.h"
#include "tunnel/TCSProtocolPelx.h"
#include "tunnel_fixture.h"

namespace vantrel::test {

inline int ConnectLoopback(int prmPort) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(prmPort));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return s;
}

// All of prmLen bytes, or false when the socket failed first.
inline bool SendAll(int prmSock, const uint8_t* prmData, size_t prmLen) {
  for (size_t off = 0; off < prmLen;) {
    ssize_t n = send(prmSock, prmData + off, prmLen - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

class TLegacyTunnelTest : public ::testing::Test {
 protected:
  // Starts the gateway speaking the legacy protocol; the manager is created but not connected.
  void StartPeer(testpeer::TGatewayScenario prmScenario = {},
                 const std::string& prmSessCookie = "abc+XYZ",
                 const std::string& prmModuleID = "mod-1") {
    prmScenario.Protocol = testpeer::TProtocol::Legacy;
    m_Peer = std::make_unique<testpeer::TGatewayPeer>(std::move(prmScenario));
    m_Port = m_Peer->Start();
    m_Mng =
        std::make_unique<CAppMngPelx>("127.0.0.1", m_Port, "sid=abc", prmSessCookie, prmModuleID);
  }
  void Connect(testpeer::TGatewayScenario prmScenario = {},
               const std::string& prmSessCookie = "abc+XYZ",
               const std::string& prmModuleID = "mod-1") {
    StartPeer(std::move(prmScenario), prmSessCookie, prmModuleID);
    m_Mng->InitControlConnection();
    ASSERT_TRUE(m_Mng->IsReady(kWaitMs));
  }
  void TearDown() override {
    m_Mng.reset();
    if (m_Peer) m_Peer->Stop();
  }

  std::unique_ptr<testpeer::TGatewayPeer> m_Peer;
  std::unique_ptr<CAppMngPelx> m_Mng;
  uint16_t m_Port = 0;
};

}  // namespace vantrel::test
