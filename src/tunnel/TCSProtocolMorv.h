// The tunnel manager of the first protocol (gateways of platform type 2): 16-byte headers, the
// "GET /vpntunnel" request, connection-ready answers, keepalives, alternative credentials and
// the reconnect notice after a loss.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tunnel/AppMngCommon.h"
#include "tunnel/Reachability.h"
#include "tunnel/TunnelOptions.h"

namespace vantrel {

class CAppMngMorv : public CAppMngCommon, private ITunnelProtocol {
 public:
  // Raises "Security library is already loaded" while another manager exists. prmOptions is
  // shared with the caller (a private one when none is given).
  CAppMngMorv(std::string prmSP, int prmSPPort, std::string prmSPCookie, std::string prmSessCookie,
              std::string prmModuleID, std::string prmDevID,
              std::shared_ptr<TTunnelOptions> prmOptions = nullptr);
  // Bounded: the control thread notices the stop within one wait; listeners and connections are
  // stopped and their threads joined.
  ~CAppMngMorv() override;

  void GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) override;

  // Shortcuts to the shared options (TTunnelOptions says what each means).
  void SetReConnectMSGID(uint32_t recntMsgID) { m_Options->SetReConnectMSGID(recntMsgID); }
  void SetKeepAliveInterval(int interval) { m_Options->SetKeepAliveInterval(interval); }
  int GetKeepAliveInterval() const { return m_Options->GetKeepAliveInterval(); }
  void SetAltCred(const std::string& prmUsername, const std::string& prmPwd) {
    m_Options->SetAltCred(prmUsername, prmPwd);
  }
  const std::string& GetDevID() const { return m_DevID; }
  // How the reachability check after a loss probes the gateway; before InitControlConnection.
  // Tests shorten its pauses so a loss's notices need not wait a second each.
  void SetOnlineCheck(TOnlineCheck prmCheck) { m_OnlineCheck = std::move(prmCheck); }

  static constexpr int kOpenWaitMs = 10000;
  static constexpr int kOnlineAttempts = 90;

 private:
  // ILinkProtocol
  int DeviceType() const override { return 2; }
  std::string TunnelRequest() const override;
  bool CheckReply(ITunnelChannel& prmChannel) override;
  void SendInitMsg() override;
  // ITunnelProtocol
  void OnIdleSecond(int& prmIdleCount) override;
  // The loss notice, then, once the gateway answers again (up to kOnlineAttempts probes a
  // second apart, counted only while the computer has a network connection; ended by the
  // manager's destruction), the reconnect notice.
  void NotifyLost() override;
  // IControlDispatch
  int HeaderSize() const override { return kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override;
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override;
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload, size_t prmLen) override;
  // IMuxProtocol
  void EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const override;
  // Sends the open request and waits up to 10 s for the gateway's connection-ready message;
  // true also when it did not come (false only when the request could not be sent).
  bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) override;
  std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP, int prmDestPort,
                                 HWND prmNotifyDest, uint32_t prmNotifyMsg) override;
  int AllowedAccepts(bool prmSSO, bool prmSSP) const override { return prmSSO && prmSSP ? 1 : 0; }
  bool SignalsClose(bool) const override { return true; }
  void OnConnClosed() override;

  const std::string m_DevID;
  TOnlineCheck m_OnlineCheck;
};

}  // namespace vantrel
