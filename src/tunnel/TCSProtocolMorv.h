// The tunnel manager of the first protocol (gateways of platform type 2): 16-byte headers, the
// "GET /vpntunnel" request, connection-ready answers, keepalives, alternative credentials and
// the reconnect notice after a loss.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "tunnel/AppMngCommon.h"
#include "tunnel/TunnelOptions.h"

namespace vantrel {

class CAppMngMorv : public CAppMngCommon {
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

  // IConnHost
  // Sends the open request and waits up to 10 s for the gateway's connection-ready message;
  // true also when it did not come (false only when the request could not be sent).
  bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) override;
  void CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) override;
  std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP, int prmDestPort,
                                 HWND prmNotifyDest, uint32_t prmNotifyMsg) override;
  int AllowedAccepts(bool prmSSO, bool prmSSP) const override { return prmSSO && prmSSP ? 1 : 0; }

  // Shortcuts to the shared options (TTunnelOptions says what each means).
  void SetReConnectMSGID(uint32_t recntMsgID) { m_Options->SetReConnectMSGID(recntMsgID); }
  void SetDesktopID(int desktopId) { m_Options->SetDesktopID(desktopId); }
  void SetKeepAliveInterval(int interval) { m_Options->SetKeepAliveInterval(interval); }
  int GetKeepAliveInterval() const { return m_Options->GetKeepAliveInterval(); }
  void SetAltCred(const std::string& prmUsername, const std::string& prmPwd) {
    m_Options->SetAltCred(prmUsername, prmPwd);
  }
  const std::string& GetDevID() const { return m_DevID; }

  static constexpr int kOpenWaitMs = 10000;
  static constexpr int kOnlineAttempts = 90;

 protected:
  int DeviceType() const override { return 2; }
  std::string TunnelRequest() const override;
  bool CheckReply() override;
  void SendInitMsg() override;
  void EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const override;
  bool SignalsClose(bool) const override { return true; }
  void OnIdleSecond(int& prmIdleCount) override;
  void NotifyLost() override;
  bool AltCredential(bool prmUser, std::string& prmValue) const override;

  int HeaderSize() const override { return kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override;
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override;
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload, size_t prmLen) override;

  // Whether the gateway answers at prmAddr again: up to kOnlineAttempts probes, each after a
  // one-second pause and counted only while the computer has a network connection; ends with
  // false at once when the manager is destroyed.
  bool IsOnline(const std::string& prmAddr);

 private:
  void SignalConnReady();

  std::string m_DevID;
  const std::shared_ptr<TTunnelOptions> m_Options;
  // Counts connection-ready messages; an open request waits for the count to move.
  std::mutex m_ConnReadyLock;
  std::condition_variable m_ConnReadyCv;
  uint64_t m_ConnReadyGen = 0;
};

}  // namespace vantrel
