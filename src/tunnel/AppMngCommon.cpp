// The tunnel manager operations over a link and a multiplexer.
#include "tunnel/AppMngCommon.h"

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "tunnel/Conn.h"

namespace vantrel {

namespace {

// What every connection operation asks for; the overloads add their own extra.
TListenRequest ListenRequest(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                             HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                             int prmSecurityRDPID, bool prmSSO, bool prmSSP) {
  TListenRequest r;
  r.DestIP = prmDestIP;
  r.DestPort = prmDestPort;
  r.SrcPort = prmSrcPort;
  r.NotifyDest = prmNotifyDest;
  r.NotifyMsg = prmNotifyMsg;
  r.ID = prmID;
  r.SecurityRDPID = prmSecurityRDPID;
  r.SSO = prmSSO;
  r.SSP = prmSSP;
  return r;
}

// A request that is a header alone, and its answer (empty when none came).
TRequestTable::TAnswer AskHeaderOnly(CTunnelMux& prmMux, TRequestTable::TKind prmKind,
                                     uint8_t prmCode, const char* prmErrPrefix) {
  return prmMux.Requests().Ask(prmKind, {},
                               [&] { return prmMux.SendHeaderOnly(prmCode, prmErrPrefix); });
}

// The user name (prmUser) or password: the alternative one when it is set and allowed, else the
// gateway's answer.
std::string AskName(CTunnelMux& prmMux, const TTunnelOptions* prmOptions, bool prmUser,
                    bool prmNoAlt) {
  std::string alt;
  if (!prmNoAlt && prmOptions != nullptr && prmOptions->GetAltCred(prmUser, alt)) return alt;
  return prmUser ? AskHeaderOnly(prmMux, TRequestTable::rkUserName, mcUserName,
                                 "GetUsername Exception (")
                       .Text
                 : AskHeaderOnly(prmMux, TRequestTable::rkPassword, mcPassword,
                                 "GetPassword Exception (")
                       .Text;
}

}  // namespace

CAppMngCommon::CAppMngCommon(ITunnelProtocol& prmProtocol, std::string prmSP, int prmSPPort,
                             std::string prmSPCookie, std::string prmSessCookie,
                             std::string prmModuleID, std::shared_ptr<TTunnelOptions> prmOptions)
    : m_SP(std::move(prmSP)),
      m_SPPort(prmSPPort),
      m_SessCookie(std::move(prmSessCookie)),
      m_SPCookie(std::move(prmSPCookie)),
      m_ModuleID(std::move(prmModuleID)),
      m_Options(std::move(prmOptions)),
      m_Protocol(prmProtocol),
      m_Link(m_SP, m_SPPort),
      m_Mux(m_Link, prmProtocol) {}

CAppMngCommon::~CAppMngCommon() {
  Shutdown();
}

void CAppMngCommon::Cancel() {
  m_Link.Cancel();
  m_Mux.Requests().Wake();
}

void CAppMngCommon::Shutdown() {
  Cancel();
  if (m_Link.State() == TTunnelState::Stopped) return;
  try {
    // A requester still inside its wait leaves on the link's loss; once none is left, no
    // requester touches this object any more.
    m_Mux.Requests().Drain();
    m_Reader.Join(m_OnCloseWnd);
    m_Mux.StopListeners();
    m_Mux.StopConns();
    m_Link.Close();
  } catch (const EBaseException& e) {
    WriteDebugLog("AppsMng Destroy Exception (" + e.GetMsg() + ")");
  } catch (...) {
    WriteDebugLog("AppsMng Destroy Exception");
  }
  m_Link.SetState(TTunnelState::Stopped);
}

void CAppMngCommon::InitControlConnection() {
  m_Link.Open(m_Protocol);
  // Everything decrypted so far in one read; the parser dispatches every complete message in
  // it and hands each connection's consecutive data over as one run.
  auto parser = std::make_shared<CMessageParser>(m_Protocol, m_Mux);
  auto lost = [this](const std::string& prmWhy) {
    WriteDebugLog(prmWhy);
    // Requests in flight end now, not after the reachability check. A manager already stopping
    // tells nobody.
    if (!m_Link.SetState(TTunnelState::Lost)) return;
    m_Mux.Requests().Wake();
    m_Link.Shut();
    m_Mux.StopListeners();
    m_Protocol.NotifyLost();
    TOnCloseCallback callback;
    {
      std::lock_guard g(m_OnCloseLock);
      callback = m_OncloseCallback;
    }
    if (callback) callback();
  };
  m_Reader.Start(
      {[parser](const uint8_t* prmData, size_t prmLen) { parser->Feed(prmData, prmLen); },
       [this](int& prmIdle) { m_Protocol.OnIdleSecond(prmIdle); }, lost});
}

void CAppMngCommon::RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) {
  m_OnCloseWnd = prmWnd;
  m_OnCloseMsgID = prmMsgID;
  m_Mux.SetLossWindow(prmWnd);
}

void CAppMngCommon::RegisterOnCloseCallback(TOnCloseCallback prmCallback) {
  std::lock_guard g(m_OnCloseLock);
  m_OncloseCallback = std::move(prmCallback);
}

bool CAppMngCommon::IsReady(int prmTO) {
  // A tunnel lost (or never opened) before it came up will not come up: no need to wait.
  TEvent& ready = m_Link.ReadyEvent();
  return WaitForAny({&ready, &m_Link.LostEvent()}, prmTO) == 0 || ready.IsSet();
}

void CAppMngCommon::CloseClientConns() {
  WriteDebugLog("AppMng.CloseClientConns");
  m_Mux.StopConns();
}

// Listeners

bool CAppMngCommon::AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                            int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                            int securityRDPFlag, bool SSOFlag, bool SSPFlag) {
  return AddConn(prmDestIP, prmDestPort, prmSrcPort, prmLocalPort, prmNotifyDest, prmNotifyMsg,
                 prmID, false, securityRDPFlag, SSOFlag, SSPFlag);
}

bool CAppMngCommon::AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                            int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                            bool prmCloseAfterEmpty, int securityRDPFlag, bool SSOFlag,
                            bool SSPFlag) {
  TListenRequest r = ListenRequest(prmDestIP, prmDestPort, prmSrcPort, prmNotifyDest, prmNotifyMsg,
                                   prmID, securityRDPFlag, SSOFlag, SSPFlag);
  r.CloseAfterEmpty = prmCloseAfterEmpty;
  return m_Mux.Listen(std::move(r), prmLocalPort);
}

bool CAppMngCommon::AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                            int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                            TConnSendCallback prmSendCallback, int securityRDPFlag, bool SSOFlag,
                            bool SSPFlag) {
  TListenRequest r = ListenRequest(prmDestIP, prmDestPort, prmSrcPort, prmNotifyDest, prmNotifyMsg,
                                   prmID, securityRDPFlag, SSOFlag, SSPFlag);
  r.SendCallback = std::move(prmSendCallback);
  return m_Mux.Listen(std::move(r), prmLocalPort);
}

bool CAppMngCommon::AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                                int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg,
                                int prmID, int securityRDPFlag, bool SSOFlag, bool SSPFlag) {
  return AddConnHost(prmDestHost, prmDestPort, prmSrcPort, prmLocalPort, prmNotifyDest,
                     prmNotifyMsg, prmID, false, securityRDPFlag, SSOFlag, SSPFlag);
}

bool CAppMngCommon::AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                                int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg,
                                int prmID, bool prmCloseAfterEmpty, int securityRDPFlag,
                                bool SSOFlag, bool SSPFlag) {
  // A dotted address is taken as it is; a name is resolved through the gateway, and when it is
  // not, nothing is created.
  auto resolve = [this](const std::string& prmHost) { return ResolveHost(prmHost); };
  std::string destIP;
  return ResolveDotted(prmDestHost, resolve, destIP) &&
         AddConn(destIP, prmDestPort, prmSrcPort, prmLocalPort, prmNotifyDest, prmNotifyMsg, prmID,
                 prmCloseAfterEmpty, securityRDPFlag, SSOFlag, SSPFlag);
}

// Messages to the gateway; the requests wait for their answers in the multiplexer's table.

void CAppMngCommon::SendLogMsg(uint8_t prmLogLevel, const std::string& prmProtocol,
                               uint32_t prmDest, const std::string& prmDestName,
                               const std::string& prmMsg) {
  std::vector<uint8_t> rec =
      EncodeLogRecord(prmLogLevel, prmProtocol, prmDest, prmDestName, prmMsg);
  TLegacyAppHeader h;
  h.ActionCode = mcLog;
  h.Len = static_cast<int32_t>(rec.size());
  m_Mux.SendMsg(h, rec.data(), rec.size(), "SendLogMsg Exception (");
}

void CAppMngCommon::ResetTimers() {
  m_Mux.SendHeaderOnly(mcResetTimers, "ResetTimers Exception (");
}

uint32_t CAppMngCommon::ResolveHost(const std::string& prmHost) {
  std::string name = ToAnsi(prmHost);
  if (name.size() > kMaxHostNameLen) {
    WriteDebugLog("AppMng.ResolveHost - host name too long (" + std::to_string(name.size()) + ")");
    return kResolveNotYet;
  }
  return m_Mux.Requests()
      .Ask(TRequestTable::rkHost, {.First = kResolveNotYet, .Second = 0, .Text = {}},
           [&] {
             TLegacyAppHeader h;
             h.ActionCode = mcResolve;
             h.Len = static_cast<int32_t>(name.size());
             return m_Mux.SendMsg(h, name.data(), name.size(), "ResolveHost Exception (");
           })
      .First;
}

std::string CAppMngCommon::GetUsername(bool prmNoAlt) {
  return AskName(m_Mux, m_Options.get(), true, prmNoAlt);
}

std::string CAppMngCommon::GetPassword(bool prmNoAlt) {
  return AskName(m_Mux, m_Options.get(), false, prmNoAlt);
}

void CAppMngCommon::GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) {
  TRequestTable::TAnswer t =
      AskHeaderOnly(m_Mux, TRequestTable::rkTimers, mcTimers, "GetTimers Exception (");
  prmIdleTime = t.First;
  prmLifetime = t.Second;
}

}  // namespace vantrel
