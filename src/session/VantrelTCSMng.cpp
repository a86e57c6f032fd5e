// The session manager's life cycle, its parameters, its share of the window messages and what it
// lends to the desktops, the file exchange and the monitors.
#include "session/VantrelTCSMng.h"

#include <sys/stat.h>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/CookieStore.h"
#include "platform/MachineId.h"

namespace vantrel {

TVantrelTCSMng::TVantrelTCSMng(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs)
    : m_UI(prmUI),
      m_Hwnd(prmHwnd),
      m_Dialogs(prmDialogs, prmHwnd, m_TerminateEvent),
      m_RdpClient(std::make_unique<TRdpClient>()) {
  m_FileExchange = std::make_unique<TFileExchange>(*this);
  m_Monitors = std::make_unique<TSessionMonitors>(*this);
  m_CitrixClientPath = ProbeCitrixClient();
  PrepareTempFolder();
  // The loopback-trust step has nothing to change for FreeRDP; it only leaves its trace.
  WriteDebugLog("DisableMstscWarningDialog - nothing to change");
}

TVantrelTCSMng::~TVantrelTCSMng() {
  m_InDestruction = true;
  m_TerminateEvent.Set();
  m_AppHostAndPort.clear();
  // Everything that may still use the tunnel ends before it goes: the connect thread (whose
  // waits end on the terminate event), then the desktops' request threads.
  std::shared_ptr<TConnectState> connect;
  {
    std::lock_guard<std::mutex> g(m_ThreadLock);
    connect = m_ConnectState;
  }
  // The connect thread may wait for the tunnel, whose control thread may be sending its loss
  // notice to this very thread: the wait keeps handling messages so neither blocks the other.
  if (connect != nullptr && m_Hwnd != nullptr && m_Hwnd->IsWindowThread())
    m_Hwnd->WaitHandlingMessages(connect->Done, -1);
  {
    std::lock_guard<std::mutex> g(m_ThreadLock);
    if (m_ConnectThd.joinable()) m_ConnectThd.join();
  }
  m_Monitors->Stop();
  {
    std::lock_guard<std::mutex> g(m_HostsLock);
    for (auto& h : m_Hosts) h->StopRequests();
  }
  {
    std::shared_ptr<CAppMng> protocol;
    {
      std::lock_guard<std::mutex> g(m_ProtocolLock);
      protocol.swap(m_Protocol);
    }
  }
  {
    std::lock_guard<std::mutex> g(m_HostsLock);
    m_Hosts.clear();
  }
  std::string ignored;
  ClearRDPCache(ignored);
  DeleteTempRdpFiles();
}

void TVantrelTCSMng::SetDBMng(TDBMng* prmDBMng) {
  m_DBMng = prmDBMng;
  if (m_DBMng == nullptr) return;
  const std::string sysDir = RdpSystemDir();
  for (int i = 0; i < m_DBMng->GetPluginsCount(); ++i) {
    std::string name = m_DBMng->GetPluginName(i);
    if (name.find('/') == std::string::npos) name = sysDir + "/" + name;
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) {
      if (!m_PlugIns.empty()) m_PlugIns += ",";
      m_PlugIns += name;
    } else if (m_DBMng->IsPluginReq(i)) {
      m_UI.ReportError(TCS_ERR_PLUGINS_MISSING, name);
    }
  }
}

void TVantrelTCSMng::SetZUVParams(const std::string& prmSP, int prmSPPort,
                                  const std::string& prmSPCookie, const std::string& prmSessCookie,
                                  const std::string& prmModuleID) {
  m_SP = prmSP;
  m_SPPort = prmSPPort;
  m_SPCookie = prmSPCookie;
  m_SessID = prmSessCookie;
  m_ModID = prmModuleID;
  if (!m_SessID.empty()) return;
  std::string cookies = GetCookiesForURL("https://" + m_SP + "/");
  size_t pos = cookies.find("ZQsession");
  if (pos == std::string::npos) return;
  size_t eq = cookies.find('=', pos);
  if (eq == std::string::npos) return;
  size_t end = cookies.find(';', eq + 1);
  std::string id = cookies.substr(eq + 1, end == std::string::npos ? end : end - eq - 1);
  if (id.empty()) return;
  m_SessID = id;
  m_SPCookie = "ZQsession=" + id;
}

void TVantrelTCSMng::SetFarmsListParams(const std::string& farmslst) {
  m_FarmsList = farmslst;
  m_ExistFarmsList = true;
}

void TVantrelTCSMng::SetDesktopsListParams(const std::string& desktopslst) {
  m_DesktopsList = desktopslst;
  m_ExistDesktopsList = true;
}

void TVantrelTCSMng::SetTimeoutAlerts(int prmLifetimeAlert, int prmIdleAlert) {
  m_LifetimeAlert = prmLifetimeAlert;
  m_IdleAlert = prmIdleAlert;
}

void TVantrelTCSMng::SetOstraVersion(int prmMajorVersion, int prmMinorVersion,
                                     int prmBuildVersion) {
  std::lock_guard<std::mutex> g(m_VersionLock);
  m_OstraServerVersion = {prmMajorVersion, prmMinorVersion, prmBuildVersion};
}

TOstraServerVersion TVantrelTCSMng::GetOstraServerVersion() const {
  std::lock_guard<std::mutex> g(m_VersionLock);
  return m_OstraServerVersion;
}

std::string TVantrelTCSMng::GetOstraServer() const {
  return m_DBMng != nullptr ? m_DBMng->GetOstraServer() : std::string();
}

std::string TVantrelTCSMng::GetDevID() {
  return ReadMachineId();
}

std::shared_ptr<CAppMng> TVantrelTCSMng::Protocol() const {
  std::lock_guard<std::mutex> g(m_ProtocolLock);
  return m_Protocol;
}

CAppMng* TVantrelTCSMng::GetProtocol() {
  return Protocol().get();
}

void TVantrelTCSMng::MsgProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam,
                             bool& prmHandled) {
  prmHandled = true;
  switch (prmMsg) {
    case WM_ControlConnLost:
      if (m_InDestruction) return;
      m_UI.UpdateTCSStatus(TCS_STATUS_DISCONNECTED, 1, "");
      if (auto protocol = Protocol()) protocol->CloseClientConns();
      return;
    case WM_RDP_DISCONNECT:
      WriteDebugLog("TVantrelTCSMng.MsgProc - WM_RDP_DISCONNECT");
      return;
    case WM_HostStateChanged: {
      int index = static_cast<int>(prmWParam);
      int status = static_cast<int>(prmLParam);
      if (status == HOST_STATUS_DISCONNECTED) {
        std::string host;
        {
          std::lock_guard<std::mutex> g(m_HostsLock);
          if (prmWParam < m_Hosts.size())
            host = m_Hosts[prmWParam]->GetHost();
          else
            index = -1;
        }
        if (index >= 0) SendLog(6, "Disconnected from remote desktop on " + host);
      }
      m_UI.UpdateHostStatus(static_cast<int>(prmWParam), status);
      return;
    }
    case TCS_STATUS_RECONNECT:
      m_UI.ReportError(TCS_ERR_RECONNECT, "");
      return;
    case WM_SessionDialog:
      m_Dialogs.HandleRequest(prmLParam);
      return;
    default:
      prmHandled = false;
  }
}

bool TVantrelTCSMng::GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
                             const std::string& prmStatusText, std::string& prmFailureInfo,
                             const std::string& prmProxy) {
  if (!m_GetFile)
    return m_FileExchange->GetFile(prmURL, prmBody, prmStatusID, prmStatusText, prmFailureInfo,
                                   prmProxy);
  prmFailureInfo.clear();
  return m_GetFile(prmURL, prmBody, prmStatusID, prmStatusText, prmFailureInfo, prmProxy);
}

void TVantrelTCSMng::LoadUserProfile() {
  std::string ignored;
  m_FileExchange->LoadUserProfile(ignored);
}

TDBMng& TVantrelTCSMng::GetDBMng() {
  return m_DBMng != nullptr ? *m_DBMng : m_NoDBMng;
}

bool TVantrelTCSMng::FetchOstra(const std::string& prmURL, std::string& prmBody,
                                std::string& prmFailText) {
  return GetFile(prmURL, prmBody, TCS_STATUS_NONE, "", prmFailText, "");
}

std::string TVantrelTCSMng::GetUsername(bool prmNoAlt) {
  auto protocol = Protocol();
  return protocol ? protocol->GetUsername(prmNoAlt) : std::string();
}

std::string TVantrelTCSMng::GetPassword(bool prmNoAlt) {
  auto protocol = Protocol();
  return protocol ? protocol->GetPassword(prmNoAlt) : std::string();
}

uint32_t TVantrelTCSMng::ResolveHost(const std::string& prmHost) {
  auto protocol = Protocol();
  return protocol ? protocol->ResolveHost(prmHost) : 0;
}

void TVantrelTCSMng::ReportError(int prmErrorID, const std::string& prmExtra) {
  m_UI.ReportError(prmErrorID, prmExtra);
}

void TVantrelTCSMng::PostHostStatus(int prmIndex, int prmStatus) {
  PostMessage(m_Hwnd, WM_HostStateChanged, static_cast<uintptr_t>(prmIndex), prmStatus);
}

bool TVantrelTCSMng::GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) {
  auto protocol = Protocol();
  if (!protocol) return false;
  uint32_t idle = 0, life = 0;
  protocol->GetTimers(idle, life);
  prmIdleLeft = static_cast<int>(idle);
  prmLifetimeLeft = static_cast<int>(life);
  return true;
}

void TVantrelTCSMng::ResetTimers() {
  if (auto protocol = Protocol()) protocol->ResetTimers();
}

void TVantrelTCSMng::SendLog(uint8_t prmLevel, const std::string& prmText) {
  if (auto protocol = Protocol()) protocol->SendLogMsg(prmLevel, "VantrelTCS", 0, "", prmText);
}

}  // namespace vantrel
