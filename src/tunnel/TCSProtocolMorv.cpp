#include "tunnel/TCSProtocolMorv.h"

#include <chrono>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "tunnel/Conn.h"
#include "tunnel/Reachability.h"

namespace vantrel {

namespace {
constexpr int kOpenWaitStepMs = 200;
}  // namespace

CAppMngMorv::CAppMngMorv(std::string prmSP, int prmSPPort, std::string prmSPCookie,
                         std::string prmSessCookie, std::string prmModuleID, std::string prmDevID,
                         std::shared_ptr<TTunnelOptions> prmOptions)
    : CAppMngCommon(std::move(prmSP), prmSPPort, std::move(prmSPCookie), std::move(prmSessCookie),
                    std::move(prmModuleID)),
      m_DevID(std::move(prmDevID)),
      m_Options(prmOptions ? std::move(prmOptions) : std::make_shared<TTunnelOptions>()) {
  SetProxyConnector([this](const std::string& prmProxy, int prmPort, const std::string& prmDest,
                           int prmDestPort) {
    return ConnectFirstProtocolProxy(ProxyDialogs(), prmProxy, prmPort, prmDest, prmDestPort);
  });
}

CAppMngMorv::~CAppMngMorv() {
  Shutdown();
}

bool CAppMngMorv::AltCredential(bool prmUser, std::string& prmValue) const {
  return m_Options->GetAltCred(prmUser, prmValue);
}

std::string CAppMngMorv::TunnelRequest() const {
  return BuildTunnelRequest(m_SP, m_SPCookie, m_DevID);
}

bool CAppMngMorv::CheckReply() {
  char reply[kReplyBufSize] = {};
  ReadReply(reply, sizeof reply - 1, true);
  return IsTunnelReplyOk(reply, sizeof reply);
}

void CAppMngMorv::SendInitMsg() {
  SendHeaderOnly(mcInit, "SendCtrlMsg Exception (");
}

void CAppMngMorv::EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const {
  EncodeHeader(prmHdr, prmOut);
}

TLegacyAppHeader CAppMngMorv::DecodeHdr(const uint8_t* prmHdr) const {
  return DecodeHeader(prmHdr);
}

void CAppMngMorv::OnIdleSecond(int& prmIdleCount) {
  if (m_Options->KeepAliveEnabled() && prmIdleCount == m_Options->GetKeepAliveInterval()) {
    SendHeaderOnly(mcKeepAlive, "SendKeepAlive Exception (");
    prmIdleCount = 0;
  }
}

void CAppMngMorv::SignalConnReady() {
  {
    std::lock_guard g(m_ConnReadyLock);
    ++m_ConnReadyGen;
  }
  m_ConnReadyCv.notify_all();
}

IControlDispatch::TPayload CAppMngMorv::OnHeader(const TLegacyAppHeader& prmHdr) {
  switch (prmHdr.ActionCode) {
    case mcTimers:
      AnswerTimers(prmHdr.ListenIP, static_cast<uint32_t>(prmHdr.Len));
      return TPayload::None;
    case mcTunnelUp:
      return TPayload::None;
    case mcConnReady:
      SignalConnReady();
      return TPayload::None;
    case mcData:
      return TPayload::Data;
    case mcInit:
    case mcTunnelUp2:
      SetState(TTunnelState::Up);
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
      SetState(TTunnelState::Up);
      break;
    case mcConnReady:
      SignalConnReady();
      break;
    case mcProbe:
      // Answered once, when the probe has been read whole.
      SendHeaderOnly(mcProbeAnswer, "SendCtrlMsg Exception (");
      break;
    default:
      OnSharedMessage(prmHdr, prmPayload, prmLen);
      break;
  }
}

bool CAppMngMorv::SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  TLegacyAppHeader h{mcOpen, addr, static_cast<uint16_t>(prmDestPort), static_cast<uint16_t>(prmID),
                     0};
  uint64_t gen;
  {
    std::lock_guard s(m_SendCS);
    {
      std::lock_guard g(m_ConnReadyLock);
      gen = m_ConnReadyGen;
    }
    if (!SendMsg(h, nullptr, 0, "SendOpenConn Exception (")) return false;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpenWaitMs);
  bool answered = false;
  std::shared_ptr<CConn> conn = GetConn(prmID);
  std::unique_lock g(m_ConnReadyLock);
  // Steps, so that a lost tunnel, the manager's destruction or the gateway closing this very
  // connection end the wait too.
  while (!(answered = m_ConnReadyGen != gen) && !m_LostEvent.IsSet() &&
         !(conn && conn->IsStopRequested()) && MsLeft(deadline) > 0) {
    m_ConnReadyCv.wait_for(g,
                           std::chrono::milliseconds(std::min(kOpenWaitStepMs, MsLeft(deadline))));
  }
  WriteDebugLog(answered ? "AppMng.SendOpenConn - connection ready, ID " + std::to_string(prmID)
                         : "AppMng.SendOpenConn - no answer, ID " + std::to_string(prmID));
  return true;
}

void CAppMngMorv::CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) {
  CAppMngCommon::CloseConn(prmConn, prmSignalSP, prmFreeConn);
  if (int desktopId = m_Options->GetDesktopID(); desktopId != 0)
    WriteDebugLog("AppMng.CloseConn - DesktopId " + std::to_string(desktopId));
}

std::shared_ptr<CConn> CAppMngMorv::NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                            int prmDestPort, HWND prmNotifyDest,
                                            uint32_t prmNotifyMsg) {
  return std::make_shared<CTCSConn>(this, std::move(prmCSock), prmDestIP, prmDestPort,
                                    prmNotifyDest, prmNotifyMsg);
}

void CAppMngMorv::GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) {
  CAppMngCommon::GetTimers(prmIdleTime, prmLifetime);
  WriteDebugLog("CAppMngMorv.GetTimers - IdleTime " + std::to_string(prmIdleTime) + ", LifeTime " +
                std::to_string(prmLifetime));
}

bool CAppMngMorv::IsOnline(const std::string& prmAddr) {
  TOnlineCheck check;
  check.Attempts = kOnlineAttempts;
  const bool online = WaitGatewayOnline(prmAddr, m_SPPort, m_StopEvent, check);
  WriteDebugLog(online ? "CAppMngMorv.IsOnline is True" : "CAppMngMorv.IsOnline is False");
  return online;
}

void CAppMngMorv::NotifyLost() {
  HWND wnd = m_OnCloseWnd;
  if (wnd == nullptr) return;
  SendMessage(wnd, m_OnCloseMsgID);
  if (IsOnline(m_SPIp)) SendMessage(wnd, m_Options->GetReConnectMSGID());
}

}  // namespace vantrel
