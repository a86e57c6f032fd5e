#include "session/SessionStartup.h"

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/ThreadEntry.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

namespace {

constexpr int kControlConnTimeoutMs = 30000;
// IsReady is asked in slices so that a destruction meanwhile ends the wait at once.
constexpr int kReadySliceMs = 100;
constexpr int kDefaultKeepAliveSec = 60;

}  // namespace

TSessionStartup::TSessionStartup(TSessionContext& prmContext, TOstraClient& prmOstra,
                                 TClientChecks& prmClients, TSessionMonitors& prmMonitors)
    : m_Context(prmContext), m_Ostra(prmOstra), m_Clients(prmClients), m_Monitors(prmMonitors) {}

TSessionStartup::~TSessionStartup() {
  Join();
}

void TSessionStartup::Join() {
  std::shared_ptr<TConnectState> connect;
  {
    std::lock_guard<std::mutex> g(m_ThreadLock);
    connect = m_ConnectState;
  }
  // The connect thread may wait for the tunnel, whose control thread may be sending its loss
  // notice to this very thread: the wait keeps handling messages so neither blocks the other.
  HWND hwnd = m_Context.GetHWND();
  if (connect != nullptr && hwnd != nullptr && hwnd->IsWindowThread())
    hwnd->WaitHandlingMessages(connect->Done, -1);
  std::lock_guard<std::mutex> g(m_ThreadLock);
  if (m_ConnectThd.joinable()) m_ConnectThd.join();
}

bool TSessionStartup::ConnectStart() {
  std::shared_ptr<TConnectState> state;
  HWND hwnd = nullptr;
  {
    std::lock_guard<std::mutex> g(m_ThreadLock);
    // Read while the session surely exists: once the connect thread runs, a destruction may
    // free it before this caller's wait begins, and the wait needs only what it copied.
    hwnd = m_Context.GetHWND();
    if (m_ConnectState == nullptr && !m_Context.InDestruction()) {
      m_ConnectState = std::make_shared<TConnectState>();
      try {
        m_ConnectThd = std::thread(&TSessionStartup::ConnectThd, this, m_ConnectState);
      } catch (const std::system_error& e) {
        WriteDebugLog(std::string("ConnectStart - cannot start the connect thread: ") + e.what());
        m_ConnectState->Done.Set();
      }
    }
    state = m_ConnectState;
  }
  if (state == nullptr) return false;
  // Bounded by the connect thread, whose every step ends on the terminate event or a timeout.
  // Called on the window thread after all, the wait keeps handling the window's messages, since
  // the connect thread's dialogs and the tunnel's notices need that thread.
  if (hwnd != nullptr && hwnd->IsWindowThread())
    hwnd->WaitHandlingMessages(state->Done, -1);
  else
    state->Done.Wait(-1);
  return state->Ready;
}

void TSessionStartup::ConnectThd(std::shared_ptr<TConnectState> prmState) {
  RunGuarded("ConnectThd", [this] { RunConnectSteps(); });
  prmState->Ready = m_Ready.load();
  prmState->Done.Set();
}

void TSessionStartup::RunConnectSteps() {
  m_Context.GetUI().UpdateTCSStatus(TCS_STATUS_CONNECTING, 0, "");
  if (!OpenTunnel()) return;
  m_Context.GetUI().UpdateTCSStatus(TCS_STATUS_CONNECTED, 0, "");

  if (m_Context.GetPlatformType() == PLATFORM_TYPE_MORV) {
    if (!m_Ostra.GetOstraInfo()) {
      m_Context.GetUI().ReportError(TCS_ERR_START_FAILED, "Failed to get Ostra Info");
      return;
    }
    if (m_Ostra.GetOstraServerVersion().VerMaj > 3 &&
        !m_Ostra.GetPostLoginClientVerificationRules()) {
      m_Context.GetUI().ReportError(TCS_ERR_CLIENT_VERIFICATION, "");
      m_Context.GetUI().ReportError(TCS_ERR_ACCESS_DENIED, "");
      m_Context.FreeProtocol();
      return;
    }
  }
  if (m_Context.InDestruction()) return;

  WriteDebugLog("Trying to detect RDP version...");
  if (m_Clients.CheckRdpClient()) {
    WriteDebugLog("Vantrel Client Started");
    m_Context.SendLog(6, "Vantrel Client Started");
  } else {
    m_Context.GetUI().ReportError(TCS_ERR_RDP_CLIENT_INSTALL, "");
    m_Context.SendLog(6, "Failed to install the RDP client");
  }

  if (m_Context.HasDBMng()) {
    if (m_Context.InDestruction()) return;
    m_Clients.CheckCitrixClient();
  }

  if (m_Context.InDestruction()) return;
  if (m_Context.GetLifetimeAlert() > 0 || m_Context.GetIdleAlert() > 0)
    m_Monitors.StartTimeoutMonitor();

  if (!m_Context.GetOstraServer().empty()) {
    std::string answer, failure;
    if (m_Ostra.GetOstraServerVersion().VerMaj <= 3) answer = m_Ostra.ClientVerification(failure);
    if (!m_Ostra.GetHosts(answer, failure))
      m_Context.GetUI().ReportError(TCS_ERR_HOSTS_NOT_LOADED, failure);
  }

  if (m_Context.GetIdleTimeoutKM() > 0) m_Monitors.StartKeyBoardMonitor();

  if (m_Context.InDestruction() || !m_Context.HasDBMng()) return;
  ApplyKeepAlive();
  m_Ready = true;
}

bool TSessionStartup::OpenTunnel() {
  try {
    SetFixedLocalHostAddr();
    const TGatewayParams& gw = m_Context.Gateway();
    const int platform = m_Context.GetPlatformType();
    TAppMngParams params{gw.SP,
                         gw.SPPort,
                         gw.SPCookie,
                         gw.SessID,
                         gw.ModID,
                         std::string(),
                         m_Context.TunnelOptions()};
    if (platform == PLATFORM_TYPE_MORV) params.DevID = m_Context.GetDevID();
    params.Dialogs = &m_Context.Dialogs();
    m_Context.TunnelOptions()->SetReConnectMSGID(TCS_STATUS_RECONNECT);
    std::shared_ptr<CAppMng> protocol = m_AppMngFactory(platform, params);
    if (!protocol) throw EBaseException("No tunnel manager for this gateway");
    m_Context.SetProtocol(protocol);
    protocol->RegisterOnClose(m_Context.GetHWND(), WM_ControlConnLost);
    protocol->InitControlConnection();
    if (m_Context.InDestruction()) return false;
    if (!WaitTunnelReady()) {
      if (m_Context.InDestruction()) return false;
      m_Context.GetUI().UpdateTCSStatus(TCS_STATUS_CONNECT_FAILED, 0, "");
      m_Context.GetUI().ReportError(TCS_ERR_CONTROL_CONN_TIMEOUT, "");
      m_Context.FreeProtocol();
      return false;
    }
    return true;
  } catch (const EBaseException& e) {
    TunnelFailed(e.GetMsg());
  } catch (const std::exception& e) {
    // Not the tunnel's own failures, but start-up ends the same way instead of half-built.
    TunnelFailed(e.what());
  }
  return false;
}

void TSessionStartup::TunnelFailed(const std::string& prmMsg) {
  WriteDebugLog("ConnectThd - " + prmMsg);
  // A set-up cancelled by the destruction is no failure to report.
  if (m_Context.InDestruction()) {
    m_Context.FreeProtocol();
    return;
  }
  m_Context.GetUI().UpdateTCSStatus(TCS_STATUS_CONNECT_FAILED, 0, "");
  m_Context.GetUI().ReportError(TCS_ERR_START_FAILED, prmMsg);
  m_Context.FreeProtocol();
}

bool TSessionStartup::WaitTunnelReady() {
  auto protocol = m_Context.Protocol();
  if (!protocol) return false;
  // Counted in slices rather than by the clock: the limit is the tunnel's own waiting time.
  for (int waited = 0; waited < kControlConnTimeoutMs; waited += kReadySliceMs) {
    if (protocol->IsReady(kReadySliceMs)) return true;
    if (m_Context.InDestruction()) return false;
  }
  return false;
}

void TSessionStartup::ApplyKeepAlive() {
  int k = m_Context.GetDBMng().GetKeepAlive();
  if (k == 0) return;
  if (k == -1) k = kDefaultKeepAliveSec;
  m_Context.TunnelOptions()->SetKeepAliveInterval(k);
}

}  // namespace vantrel
