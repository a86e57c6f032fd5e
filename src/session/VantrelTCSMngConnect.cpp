// Start-up: the connect thread builds the tunnel, loads the availability server's information
// and the catalogue, checks the clients and marks the session ready.
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "session/VantrelTCSMng.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

namespace {

constexpr int kControlConnTimeoutMs = 30000;
// IsReady is asked in slices so that a destruction meanwhile ends the wait at once.
constexpr int kReadySliceMs = 100;
constexpr int kDefaultKeepAliveSec = 60;

}  // namespace

bool TVantrelTCSMng::ConnectStart() {
  std::shared_ptr<TConnectState> state;
  {
    std::lock_guard<std::mutex> g(m_ThreadLock);
    if (m_ConnectState == nullptr && !m_InDestruction) {
      m_ConnectState = std::make_shared<TConnectState>();
      try {
        m_ConnectThd = std::thread(&TVantrelTCSMng::ConnectThd, this, m_ConnectState);
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
  if (m_Hwnd != nullptr && m_Hwnd->IsWindowThread())
    m_Hwnd->WaitHandlingMessages(state->Done, -1);
  else
    state->Done.Wait(-1);
  return state->Ready;
}

void TVantrelTCSMng::ConnectThd(std::shared_ptr<TConnectState> prmState) {
  try {
    RunConnectSteps();
  } catch (const EBaseException& e) {
    WriteDebugLog("ConnectThd - " + e.GetMsg());
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("ConnectThd - ") + e.what());
  } catch (...) {
    WriteDebugLog("ConnectThd - unknown exception");
  }
  prmState->Ready = m_Ready.load();
  prmState->Done.Set();
}

void TVantrelTCSMng::RunConnectSteps() {
  m_UI.UpdateTCSStatus(TCS_STATUS_CONNECTING, 0, "");
  if (!OpenTunnel()) return;
  m_UI.UpdateTCSStatus(TCS_STATUS_CONNECTED, 0, "");

  if (m_PlatformType == PLATFORM_TYPE_MORV) {
    if (!GetOstraInfo()) {
      m_UI.ReportError(TCS_ERR_START_FAILED, "Failed to get Ostra Info");
      return;
    }
    if (GetOstraServerVersion().VerMaj > 3 && !GetPostLoginClientVerificationRules()) {
      m_UI.ReportError(TCS_ERR_CLIENT_VERIFICATION, "");
      m_UI.ReportError(TCS_ERR_ACCESS_DENIED, "");
      FreeProtocol();
      return;
    }
  }
  if (m_InDestruction) return;

  WriteDebugLog("Trying to detect RDP version...");
  if (CheckRdpClient()) {
    WriteDebugLog("Vantrel Client Started");
    SendLog(6, "Vantrel Client Started");
  } else {
    m_UI.ReportError(TCS_ERR_RDP_CLIENT_INSTALL, "");
    SendLog(6, "Failed to install the RDP client");
  }

  if (m_DBMng != nullptr) {
    if (m_InDestruction) return;
    CheckCitrixClient();
  }

  if (m_InDestruction) return;
  if (m_LifetimeAlert > 0 || m_IdleAlert > 0) m_Monitors->StartTimeoutMonitor();

  if (!GetOstraServer().empty()) {
    std::string answer, failure;
    if (GetOstraServerVersion().VerMaj <= 3) answer = ClientVerification(failure);
    if (!GetHosts(answer, failure)) m_UI.ReportError(TCS_ERR_HOSTS_NOT_LOADED, failure);
  }

  if (m_IdleTimeout_km > 0) m_Monitors->StartKeyBoardMonitor();

  if (m_InDestruction || m_DBMng == nullptr) return;
  ApplyKeepAlive();
  m_Ready = true;
}

bool TVantrelTCSMng::OpenTunnel() {
  try {
    SetFixedLocalHostAddr();
    TAppMngParams params{m_SP,    m_SPPort,      m_SPCookie,     m_SessID,
                         m_ModID, std::string(), m_TunnelOptions};
    if (m_PlatformType == PLATFORM_TYPE_MORV) params.DevID = GetDevID();
    m_TunnelOptions->SetReConnectMSGID(TCS_STATUS_RECONNECT);
    std::shared_ptr<CAppMng> protocol = m_AppMngFactory(m_PlatformType, params);
    if (!protocol) throw EBaseException("No tunnel manager for this gateway");
    {
      std::lock_guard<std::mutex> g(m_ProtocolLock);
      m_Protocol = protocol;
    }
    protocol->RegisterOnClose(m_Hwnd, WM_ControlConnLost);
    protocol->InitControlConnection();
    if (m_InDestruction) return false;
    if (!WaitTunnelReady()) {
      if (m_InDestruction) return false;
      m_UI.UpdateTCSStatus(TCS_STATUS_CONNECT_FAILED, 0, "");
      m_UI.ReportError(TCS_ERR_CONTROL_CONN_TIMEOUT, "");
      FreeProtocol();
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

void TVantrelTCSMng::TunnelFailed(const std::string& prmMsg) {
  WriteDebugLog("ConnectThd - " + prmMsg);
  m_UI.UpdateTCSStatus(TCS_STATUS_CONNECT_FAILED, 0, "");
  m_UI.ReportError(TCS_ERR_START_FAILED, prmMsg);
  FreeProtocol();
}

bool TVantrelTCSMng::WaitTunnelReady() {
  auto protocol = Protocol();
  if (!protocol) return false;
  // Counted in slices rather than by the clock: the limit is the tunnel's own waiting time.
  for (int waited = 0; waited < kControlConnTimeoutMs; waited += kReadySliceMs) {
    if (protocol->IsReady(kReadySliceMs)) return true;
    if (m_InDestruction) return false;
  }
  return false;
}

void TVantrelTCSMng::FreeProtocol() {
  std::shared_ptr<CAppMng> protocol;
  {
    std::lock_guard<std::mutex> g(m_ProtocolLock);
    protocol.swap(m_Protocol);
  }
  // Destroyed here, outside the lock, unless a window-thread user still holds it.
}

void TVantrelTCSMng::ApplyKeepAlive() {
  int k = GetDBMng().GetKeepAlive();
  if (k == 0) return;
  if (k == -1) k = kDefaultKeepAliveSec;
  m_TunnelOptions->SetKeepAliveInterval(k);
}

}  // namespace vantrel
