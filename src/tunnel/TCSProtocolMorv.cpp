#include "tunnel/TCSProtocolMorv.h"

#include "diag/DebugLog.h"
#include "diag/NetAddress.h"
#include "tunnel/Conn.h"

namespace vantrel {

CAppMngMorv::CAppMngMorv(std::string prmSP, int prmSPPort, std::string prmSPCookie,
                         std::string prmSessCookie, std::string prmModuleID, std::string prmDevID,
                         std::shared_ptr<TTunnelOptions> prmOptions)
    : CAppMngCommon(*this, std::move(prmSP), prmSPPort, std::move(prmSPCookie),
                    std::move(prmSessCookie), std::move(prmModuleID),
                    prmOptions ? std::move(prmOptions) : std::make_shared<TTunnelOptions>()),
      m_DevID(std::move(prmDevID)) {
  m_OnlineCheck.Attempts = kOnlineAttempts;
  Link().Proxies().SetConnector([this](const std::string& prmProxy, int prmPort,
                                       const std::string& prmDest, int prmDestPort) {
    return ConnectFirstProtocolProxy(Link().Dialogs(), prmProxy, prmPort, prmDest, prmDestPort);
  });
}

CAppMngMorv::~CAppMngMorv() {
  Shutdown();
}

std::string CAppMngMorv::TunnelRequest() const {
  return BuildTunnelRequest(m_SP, m_SPCookie, m_DevID);
}

bool CAppMngMorv::CheckReply(ITunnelChannel& prmChannel) {
  char reply[kReplyBufSize] = {};
  int got = 0;
  prmChannel.ReadReply(reply, sizeof reply - 1, true, got);
  return IsTunnelReplyOk(reply, sizeof reply);
}

void CAppMngMorv::SendInitMsg() {
  Mux().SendHeaderOnly(mcInit, "SendCtrlMsg Exception (");
}

void CAppMngMorv::EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const {
  EncodeHeader(prmHdr, prmOut);
}

TLegacyAppHeader CAppMngMorv::DecodeHdr(const uint8_t* prmHdr) const {
  return DecodeHeader(prmHdr);
}

void CAppMngMorv::OnIdleSecond(int& prmIdleCount) {
  if (m_Options->KeepAliveEnabled() && prmIdleCount == m_Options->GetKeepAliveInterval()) {
    Mux().SendHeaderOnly(mcKeepAlive, "SendKeepAlive Exception (");
    prmIdleCount = 0;
  }
}

IControlDispatch::TPayload CAppMngMorv::OnHeader(const TLegacyAppHeader& prmHdr) {
  switch (prmHdr.ActionCode) {
    case mcTimers:
      Mux().Requests().Answer(TRequestTable::rkTimers,
                              {prmHdr.ListenIP, static_cast<uint32_t>(prmHdr.Len), {}});
      return TPayload::None;
    case mcTunnelUp:
      return TPayload::None;
    case mcConnReady:
      Mux().Requests().SignalReady();
      return TPayload::None;
    case mcData:
      return TPayload::Data;
    case mcInit:
    case mcTunnelUp2:
      Link().SetState(TTunnelState::Up);
      return TPayload::Read;
    default:
      return TPayload::Read;
  }
}

void CAppMngMorv::OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                            size_t prmLen) {
  switch (prmHdr.ActionCode) {
    case mcTunnelUp:
    case mcInit:
    case mcTunnelUp2:
      Link().SetState(TTunnelState::Up);
      break;
    case mcConnReady:
      Mux().Requests().SignalReady();
      break;
    case mcProbe:
      // Answered once, when the probe has been read whole.
      Mux().SendHeaderOnly(mcProbeAnswer, "SendCtrlMsg Exception (");
      break;
    default:
      Mux().OnSharedMessage(prmHdr, prmPayload, prmLen);
      break;
  }
}

bool CAppMngMorv::SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  TLegacyAppHeader h{mcOpen, addr, static_cast<uint16_t>(prmDestPort), static_cast<uint16_t>(prmID),
                     0};
  TRequestTable& requests = Mux().Requests();
  // Counted before the request goes out, so an answer to it cannot be missed.
  const uint64_t seen = requests.ReadyCount();
  if (!Mux().SendMsg(h, nullptr, 0, "SendOpenConn Exception (")) return false;
  std::shared_ptr<CConn> conn = Mux().GetConn(prmID);
  // The gateway closing this very connection ends the wait too.
  const bool answered =
      requests.WaitReady(seen, kOpenWaitMs, [&conn] { return conn && conn->IsStopRequested(); });
  WriteDebugLog(answered ? "AppMng.SendOpenConn - connection ready, ID " + std::to_string(prmID)
                         : "AppMng.SendOpenConn - no answer, ID " + std::to_string(prmID));
  return true;
}

void CAppMngMorv::OnConnClosed() {
  if (int desktopId = m_Options->GetDesktopID(); desktopId != 0)
    WriteDebugLog("AppMng.CloseConn - DesktopId " + std::to_string(desktopId));
}

std::shared_ptr<CConn> CAppMngMorv::NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                            int prmDestPort, HWND prmNotifyDest,
                                            uint32_t prmNotifyMsg) {
  return std::make_shared<CTCSConn>(&Mux(), std::move(prmCSock), prmDestIP, prmDestPort,
                                    prmNotifyDest, prmNotifyMsg);
}

void CAppMngMorv::GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) {
  CAppMngCommon::GetTimers(prmIdleTime, prmLifetime);
  WriteDebugLog("CAppMngMorv.GetTimers - IdleTime " + std::to_string(prmIdleTime) + ", LifeTime " +
                std::to_string(prmLifetime));
}

void CAppMngMorv::NotifyLost() {
  HWND wnd = m_OnCloseWnd;
  if (wnd == nullptr) return;
  SendMessage(wnd, m_OnCloseMsgID);
  // IsOnline: whether the gateway answers at the address it was reached on.
  const bool online =
      WaitGatewayOnline(Link().GatewayIp(), m_SPPort, Link().StopEvent(), m_OnlineCheck);
  WriteDebugLog(online ? "CAppMngMorv.IsOnline is True" : "CAppMngMorv.IsOnline is False");
  if (online) SendMessage(wnd, m_Options->GetReConnectMSGID());
}

}  // namespace vantrel
