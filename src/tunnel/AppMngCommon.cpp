// Construction, destruction, the connection table and the listeners of the tunnel managers.
#include "tunnel/AppMngCommon.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "proxy/ProxyUtils.h"
#include "tunnel/Conn.h"

namespace vantrel {

namespace {

// On the window thread a wait must keep handling messages: a worker may be blocked sending one.
void WaitOnWindow(TEvent& prmEvent, HWND prmWnd) {
  if (prmWnd != nullptr && prmWnd->IsWindowThread())
    prmWnd->WaitHandlingMessages(prmEvent, -1);
  else
    prmEvent.Wait(-1);
}

}  // namespace

CAppMngCommon::CAppMngCommon(std::string prmSP, int prmSPPort, std::string prmSPCookie,
                             std::string prmSessCookie, std::string prmModuleID)
    : m_SP(std::move(prmSP)),
      m_SPPort(prmSPPort),
      m_SessCookie(std::move(prmSessCookie)),
      m_SPCookie(std::move(prmSPCookie)),
      m_ModuleID(std::move(prmModuleID)),
      m_DetectProxy(
          [](const std::string& prmHost, std::vector<std::string>& prmList, bool& prmDirect) {
            return DetectProxyForHost(prmHost, prmList, prmDirect);
          }),
      m_ProxyConnect([this](const std::string& prmProxy, int prmPort, const std::string& prmDest,
                            int prmDestPort) {
        return ConnectLegacyProxy(ProxyDialogs(), prmProxy, prmPort, prmDest, prmDestPort);
      }) {
  ResetStreamSizes();
  LoadSecurityLibrary();
  m_LibraryLoaded = true;
}

CAppMngCommon::~CAppMngCommon() {
  Shutdown();
  if (m_LibraryLoaded) UnloadSecurityLibrary();
}

void CAppMngCommon::Cancel() {
  if (!SetState(TTunnelState::Stopping)) return;
  // Wakes whatever waits on the socket (the handshake, the reply, the control thread); the
  // descriptor itself is closed once the threads are gone.
  ShutControlSock();
}

void CAppMngCommon::ShutControlSock() {
  std::lock_guard g(m_SockLock);
  if (m_ControlSock) ::shutdown(m_ControlSock.Get(), SHUT_RDWR);
}

void CAppMngCommon::Shutdown() {
  Cancel();
  if (m_State == TTunnelState::Stopped) return;
  try {
    // A requester still inside its wait leaves on the lost event; it holds its request lock until
    // it is out, so taking each lock once means no requester touches this object any more.
    { std::lock_guard r(m_HostResolution.CS); }
    { std::lock_guard r(m_GetUserName.CS); }
    { std::lock_guard r(m_GetPassword.CS); }
    { std::lock_guard r(m_GetTimers.CS); }
    if (m_ControlThd.joinable()) {
      WaitOnWindow(m_ControlDone, m_OnCloseWnd);
      m_ControlThd.join();
    }
    StopListeners();
    StopConns();
    CloseControlSock();
    m_SSPI.reset();
  } catch (const EBaseException& e) {
    WriteDebugLog("AppsMng Destroy Exception (" + e.GetMsg() + ")");
  } catch (...) {
    WriteDebugLog("AppsMng Destroy Exception");
  }
  SetState(TTunnelState::Stopped);
}

void CAppMngCommon::StopListeners() {
  std::vector<std::unique_ptr<CListener>> listeners;
  {
    std::lock_guard g(m_ConnsCS);
    listeners.swap(m_Listeners);
  }
  // Their sockets close here: a client connecting afterwards is refused at once.
  listeners.clear();
}

void CAppMngCommon::CloseControlSock() {
  std::lock_guard g(m_SockLock);
  m_ControlSock.Reset();
}

void CAppMngCommon::RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) {
  m_OnCloseWnd = prmWnd;
  m_OnCloseMsgID = prmMsgID;
}

void CAppMngCommon::RegisterOnCloseCallback(TOnCloseCallback prmCallback) {
  std::lock_guard g(m_OnCloseLock);
  m_OncloseCallback = std::move(prmCallback);
}

bool CAppMngCommon::IsReady(int prmTO) {
  // A tunnel lost (or never opened) before it came up will not come up: no need to wait.
  return WaitForAny({&m_ReadyEvent, &m_LostEvent}, prmTO) == 0 || m_ReadyEvent.IsSet();
}

bool CAppMngCommon::SetState(TTunnelState prmTo) {
  std::lock_guard g(m_StateLock);
  const TTunnelState from = m_State;
  if (from == prmTo || !IsTunnelTransitionAllowed(from, prmTo)) return false;
  m_State = prmTo;
  WriteDebugLog(std::string("AppMng state ") + TunnelStateName(from) + " -> " +
                TunnelStateName(prmTo));
  if (prmTo == TTunnelState::Up)
    m_ReadyEvent.Set();
  else if (prmTo == TTunnelState::Lost || prmTo == TTunnelState::Created)
    m_ReadyEvent.Reset();
  if (IsTunnelLive(prmTo))
    m_LostEvent.Reset();
  else
    m_LostEvent.Set();
  if (prmTo == TTunnelState::Stopping) m_StopEvent.Set();
  return true;
}

void CAppMngCommon::SetProxy(const std::string& prmProxy, int prmProxyPort) {
  m_ManualProxy = true;
  m_Proxy = prmProxy;
  m_ProxyPort = prmProxyPort;
}

IDialogs& CAppMngCommon::ProxyDialogs() {
  return m_Dialogs != nullptr ? *m_Dialogs : m_NoDialogs;
}

void CAppMngCommon::SetProxyDiscovery(TDetectProxy prmDetect) {
  if (prmDetect) m_DetectProxy = std::move(prmDetect);
}

void CAppMngCommon::SetProxyConnector(TConnectThroughProxy prmConnect) {
  if (prmConnect) m_ProxyConnect = std::move(prmConnect);
}

bool CAppMngCommon::AltCredential(bool, std::string&) const {
  return false;
}

// Connections

int CAppMngCommon::CreateConn(std::shared_ptr<CConn> prmConn) {
  JoinRelays(true);
  // Everything that can run short (descriptors, memory) is taken before the connection is
  // registered: a registered connection with no relay would hold its client until the end.
  auto done = std::make_shared<TEvent>(true);
  std::lock_guard g(m_ConnsCS);
  // A connection the tunnel can no longer carry is refused (its socket closes with it) rather
  // than left waiting for an open that never comes.
  if (!IsTunnelLive(m_State)) return -1;
  std::lock_guard r(m_RelaysLock);
  m_Relays.reserve(m_Relays.size() + 1);
  int id = m_Conns.Add(prmConn);
  if (id < 0) return -1;
  prmConn->SetID(id);
  // The relay keeps its connection alive while it runs and lets go before it reports done, so
  // whoever waits for it may destroy the object on its own thread.
  // The relay may destroy its connection, which sends the notification to this window.
  HWND wnd = prmConn->GetNotifyDest() != nullptr ? prmConn->GetNotifyDest() : m_OnCloseWnd.load();
  // The relay holds the only reference besides the table, so the connection is never destroyed
  // here, under the locks, with its notification.
  CConn* conn = prmConn.get();
  std::thread relay;
  try {
    relay = std::thread([conn = std::move(prmConn), done]() mutable {
      conn->RunThd();
      conn.reset();
      done->Set();
    });
  } catch (...) {
    // Unnumbered first, so the table's reference goes without notifying anyone.
    conn->SetID(0);
    m_Conns.Remove(id, conn);
    throw;
  }
  m_Relays.push_back(TRelay{std::move(relay), done, wnd});
  return id;
}

void CAppMngCommon::JoinRelays(bool prmOnlyFinished) {
  std::vector<TRelay> relays;
  {
    std::lock_guard g(m_RelaysLock);
    for (auto it = m_Relays.begin(); it != m_Relays.end();) {
      if (!prmOnlyFinished || it->Done->IsSet()) {
        relays.push_back(std::move(*it));
        it = m_Relays.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& r : relays) {
    WaitOnWindow(*r.Done, r.Wnd);
    r.Thd.join();
  }
}

void CAppMngCommon::StopConns() {
  std::vector<std::shared_ptr<CConn>> conns;
  {
    std::lock_guard g(m_ConnsCS);
    conns = m_Conns.TakeAll();
  }
  for (auto& c : conns) c->Stop();
  JoinRelays(false);
  // Destroyed here, on this thread, now that no relay holds them.
  conns.clear();
}

void CAppMngCommon::CloseClientConns() {
  WriteDebugLog("AppMng.CloseClientConns");
  StopConns();
}

void CAppMngCommon::IncConnCount() {
  std::lock_guard g(m_ConnsCS);
  ++m_ConnsCount;
}

int CAppMngCommon::GetConnsCount() const {
  std::lock_guard g(m_ConnsCS);
  return m_ConnsCount;
}

std::shared_ptr<CConn> CAppMngCommon::GetConn(int prmID) const {
  std::lock_guard g(m_ConnsCS);
  return m_Conns.Get(prmID);
}

void CAppMngCommon::CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) {
  const int id = prmConn.GetID();
  if (id < 1 || id >= kMaxConns) {
    WriteDebugLog("AppMng.CloseConn - unknown connection " + std::to_string(id));
    return;
  }
  if (SignalsClose(prmSignalSP)) {
    uint32_t addr = 0;
    ParseDottedQuad(prmConn.GetDestIP(), addr);
    TLegacyAppHeader h{mcClose, addr, static_cast<uint16_t>(prmConn.GetDestPort()),
                       static_cast<uint16_t>(id), 0};
    SendMsg(h, nullptr, 0, "CloseConn Exception (");
  }
  std::shared_ptr<CConn> freed;
  {
    std::lock_guard g(m_ConnsCS);
    --m_ConnsCount;
    if (prmFreeConn) freed = m_Conns.Remove(id, &prmConn);
  }
  WriteDebugLog("AppMng.CloseConn - ID " + std::to_string(id) + (freed ? " freed" : ""));
}

bool CAppMngCommon::OnSharedMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                                    size_t prmLen) {
  switch (prmHdr.ActionCode) {
    case mcClose:
      if (auto conn = GetConn(prmHdr.RemotePort)) conn->CloseConn();
      return true;
    case mcUserName:
    case mcPassword:
      AnswerName(prmHdr.ActionCode == mcUserName, NameFromPayload(prmPayload, prmLen));
      return true;
    case mcResolve:
      AnswerHost(htonl(prmHdr.ListenIP));
      return true;
    default:
      return false;
  }
}

// Listeners

bool CAppMngCommon::Listen(TListenRequest prmRequest, int& prmLocalPort) {
  std::lock_guard g(m_ConnsCS);
  // Nothing to forward through once the tunnel is lost or going.
  if (IsTunnelStopping(m_State) || m_State == TTunnelState::Lost || m_State == TTunnelState::Halted)
    return false;
  const std::string dest = prmRequest.DestIP + ":" + std::to_string(prmRequest.DestPort);
  const int asked = prmRequest.SrcPort;
  auto listener = std::make_unique<CListener>(this, std::move(prmRequest), prmLocalPort);
  WriteDebugLog("AppMng.AddConn - " + dest + " requested port " + std::to_string(asked) +
                " bound port " + std::to_string(prmLocalPort));
  listener->Start();
  m_Listeners.push_back(std::move(listener));
  return true;
}

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
  return Listen({.DestIP = prmDestIP,
                 .DestPort = prmDestPort,
                 .SrcPort = prmSrcPort,
                 .NotifyDest = prmNotifyDest,
                 .NotifyMsg = prmNotifyMsg,
                 .ID = prmID,
                 .CloseAfterEmpty = prmCloseAfterEmpty,
                 .SecurityRDPID = securityRDPFlag,
                 .SSO = SSOFlag,
                 .SSP = SSPFlag},
                prmLocalPort);
}

bool CAppMngCommon::AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                            int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                            TConnSendCallback prmSendCallback, int securityRDPFlag, bool SSOFlag,
                            bool SSPFlag) {
  return Listen({.DestIP = prmDestIP,
                 .DestPort = prmDestPort,
                 .SrcPort = prmSrcPort,
                 .NotifyDest = prmNotifyDest,
                 .NotifyMsg = prmNotifyMsg,
                 .ID = prmID,
                 .SendCallback = std::move(prmSendCallback),
                 .SecurityRDPID = securityRDPFlag,
                 .SSO = SSOFlag,
                 .SSP = SSPFlag},
                prmLocalPort);
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

}  // namespace vantrel
