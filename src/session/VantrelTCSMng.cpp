// The session manager's life cycle, its parameters and its share of the window messages.
#include "session/VantrelTCSMng.h"

#include "diag/DebugLog.h"
#include "platform/CookieStore.h"

namespace vantrel {

TVantrelTCSMng::TVantrelTCSMng(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs)
    : m_Context(prmUI, prmHwnd, prmDialogs),
      m_Ostra(m_Context),
      m_Clients(m_Context),
      m_Monitors(m_Context),
      m_Launcher(m_Context, m_Ostra),
      m_AppLauncher(m_Context, m_Ostra, m_Launcher),
      m_Startup(m_Context, m_Ostra, m_Clients, m_Monitors) {}

TVantrelTCSMng::~TVantrelTCSMng() {
  m_Context.BeginDestruction();
  // Everything that may still use the tunnel ends before it goes: the connect thread (whose
  // waits end on the terminate event), the monitors, then the desktops' request threads.
  m_Startup.Join();
  m_Monitors.Stop();
  m_Ostra.StopRequests();
  m_Context.FreeProtocol();
  m_Ostra.ClearHosts();
  // The launcher then clears the RDP client's cache and the connection files as it goes.
}

void TVantrelTCSMng::SetDBMng(TDBMng* prmDBMng) {
  m_Context.SetDBMng(prmDBMng);
  if (prmDBMng != nullptr) m_Launcher.FindPlugIns(*prmDBMng);
}

void TVantrelTCSMng::SetZUVParams(const std::string& prmSP, int prmSPPort,
                                  const std::string& prmSPCookie, const std::string& prmSessCookie,
                                  const std::string& prmModuleID) {
  TGatewayParams& gw = m_Context.Gateway();
  gw = {prmSP, prmSPPort, prmSPCookie, prmSessCookie, prmModuleID};
  if (!gw.SessID.empty()) return;
  std::string cookies = GetCookiesForURL("https://" + gw.SP + "/");
  size_t pos = cookies.find("ZQsession");
  if (pos == std::string::npos) return;
  size_t eq = cookies.find('=', pos);
  if (eq == std::string::npos) return;
  size_t end = cookies.find(';', eq + 1);
  std::string id = cookies.substr(eq + 1, end == std::string::npos ? end : end - eq - 1);
  if (id.empty()) return;
  gw.SessID = id;
  gw.SPCookie = "ZQsession=" + id;
}

TStringList TVantrelTCSMng::GetUserProfile() const {
  return m_Context.FileExchange().GetUserProfile();
}

void TVantrelTCSMng::SetUserProfile(TStringList prmEntries) {
  m_Context.FileExchange().SetUserProfile(std::move(prmEntries));
}

void TVantrelTCSMng::LoadUserProfile() {
  std::string ignored;
  m_Context.FileExchange().LoadUserProfile(ignored);
}

void TVantrelTCSMng::MsgProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam,
                             bool& prmHandled) {
  prmHandled = true;
  ITCSUserInterface& ui = m_Context.GetUI();
  switch (prmMsg) {
    case WM_ControlConnLost:
      if (m_Context.InDestruction()) return;
      ui.UpdateTCSStatus(TCS_STATUS_DISCONNECTED, 1, "");
      // Nothing the monitors could report is true any more: the gateway's limits are moot.
      m_Monitors.Stop();
      if (auto protocol = m_Context.Protocol()) protocol->CloseClientConns();
      return;
    case WM_RDP_DISCONNECT:
      WriteDebugLog("TVantrelTCSMng.MsgProc - WM_RDP_DISCONNECT");
      return;
    case WM_HostStateChanged: {
      const int status = static_cast<int>(prmLParam);
      if (status == HOST_STATUS_DISCONNECTED) {
        std::string host;
        if (m_Ostra.VisitHost(prmWParam, [&](const THost& h) { host = h.GetHost(); }))
          m_Context.SendLog(6, "Disconnected from remote desktop on " + host);
      }
      ui.UpdateHostStatus(static_cast<int>(prmWParam), status);
      return;
    }
    case TCS_STATUS_RECONNECT:
      ui.ReportError(TCS_ERR_RECONNECT, "");
      return;
    case WM_SessionDialog:
      m_Context.Dialogs().HandleRequest(prmLParam);
      return;
    default:
      prmHandled = false;
  }
}

}  // namespace vantrel
