// A legacy-header tunnel manager connected to the reference gateway over loopback TLS.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "testpeer/GatewayPeer.h"
#include "tunnel/TCSProtocolPelx.h"
#include "tunnel_fixture.h"

namespace vantrel::test {

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
