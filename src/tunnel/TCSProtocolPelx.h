// The tunnel manager of legacy-header gateways (every platform type but 2): 13-byte headers, the
// "clientappcontrol" request with its exact reply, session-init and module-identifier messages,
// open requests that wait for no answer, a fixed keepalive and a loss notice without any
// reachability check.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "tunnel/AppMngCommon.h"
#include "tunnel/Conn.h"

namespace vantrel {

class CAppMngPelx : public CAppMngCommon, private ITunnelProtocol {
 public:
  // Raises "Security library is already loaded" while another manager exists.
  CAppMngPelx(std::string prmSP, int prmSPPort, std::string prmSPCookie, std::string prmSessCookie,
              std::string prmModuleID);
  // Bounded: the control thread notices the stop within one wait; listeners and connections are
  // stopped and their threads joined before the control socket is closed.
  ~CAppMngPelx() override;

  // Seconds without gateway traffic before a keepalive; fixed at kKeepAliveSecs in the product,
  // shortened by tests so they need not sit idle for a minute.
  void SetKeepAliveSeconds(int prmSeconds) { m_KeepAliveSecs = prmSeconds; }

  static constexpr int kKeepAliveSecs = 60;

 private:
  // ILinkProtocol
  int DeviceType() const override { return 1; }
  std::string TunnelRequest() const override;
  bool CheckReply(ITunnelChannel& prmChannel) override;
  void SendInitMsg() override;
  // ITunnelProtocol
  void OnIdleSecond(int& prmIdleCount) override;
  void NotifyLost() override;
  // IControlDispatch
  int HeaderSize() const override;
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override;
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override;
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload, size_t prmLen) override;
  // IMuxProtocol
  void EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const override;
  // True as soon as the request went out; the gateway sends no ready answer in this protocol.
  bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) override;
  std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP, int prmDestPort,
                                 HWND prmNotifyDest, uint32_t prmNotifyMsg) override;
  // Only single sign-on earns a listener with a security-RDP identifier its one connection.
  int AllowedAccepts(bool prmSSO, bool) const override { return prmSSO ? 1 : 0; }
  bool SignalsClose(bool prmSignalSP) const override { return prmSignalSP; }
  void OnConnClosed() override {}

  void SendModuleID();

  std::atomic<int> m_KeepAliveSecs{kKeepAliveSecs};
};

// The legacy tunnel's forwarded connection: an open request that cannot be sent ends the relay
// quietly, and the gateway hears of the end only when it or the owner stopped the relay.
class CPelxConn : public CConn {
 public:
  using CConn::CConn;
  void ConnThd() override;
  bool SendData(const uint8_t* prmBuf, int prmLen) override;
};

}  // namespace vantrel
