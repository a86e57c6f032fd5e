// TVantrelTCSMng: the owner of one portal session, as the control sees it. It builds the session
// context once and delegates to its parts: start-up (the connect thread), the availability-server
// client (information and catalogue), the client checks, the launcher and the monitors. Created,
// fed and destroyed on the control's window thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/DPP.h"
#include "catalogue/Host.h"
#include "catalogue/ParamList.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "platform/Dialogs.h"
#include "platform/RdpClient.h"
#include "platform/Window.h"
#include "session/AppLaunch.h"
#include "session/ClientChecks.h"
#include "session/DesktopLaunch.h"
#include "session/FileExchange.h"
#include "session/Launcher.h"
#include "session/Monitors.h"
#include "session/OstraClient.h"
#include "session/RdpClientControl.h"
#include "session/RdpFile.h"
#include "session/SessionContext.h"
#include "session/SessionStartup.h"
#include "tunnel/AppMngFactory.h"

namespace vantrel {

class TVantrelTCSMng final {
 public:
  // Create. prmUI and prmDialogs are borrowed and must outlive the manager; prmHwnd is the
  // control's window (may be null: reports then go nowhere and dialogs are shown directly).
  TVantrelTCSMng(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs);
  // Destroy. Bounded: ends every wait of the session's threads, joins them, then frees the
  // tunnel and the catalogue. Window thread.
  ~TVantrelTCSMng();
  TVantrelTCSMng(const TVantrelTCSMng&) = delete;
  TVantrelTCSMng& operator=(const TVantrelTCSMng&) = delete;

  // --- Setters (window thread, before start-up) ---
  // Borrowed; must outlive the manager. Appends the plug-ins found and reports each missing
  // required one (error 5).
  void SetDBMng(TDBMng* prmDBMng);
  void SetZUVParams(const std::string& prmSP, int prmSPPort, const std::string& prmSPCookie,
                    const std::string& prmSessCookie, const std::string& prmModuleID);
  void SetWorkingDir(const std::string& prmWorkDir) { m_Launcher.SetWorkingDir(prmWorkDir); }
  void SetFarmsListParams(const std::string& farmslst) { m_Ostra.SetFarmsListParams(farmslst); }
  void SetDesktopsListParams(const std::string& desktopslst) {
    m_Ostra.SetDesktopsListParams(desktopslst);
  }
  void SetHideDesksParams(int hideDesks) { m_Ostra.SetHideDesksParams(hideDesks); }
  void SetTimeoutAlerts(int prmLifetimeAlert, int prmIdleAlert) {
    m_Context.SetTimeoutAlerts(prmLifetimeAlert, prmIdleAlert);
  }
  void SetIdleTimeoutKM(int idleTimeout) { m_Context.SetIdleTimeoutKM(idleTimeout); }
  void SetOstraVersion(int prmMajorVersion, int prmMinorVersion, int prmBuildVersion) {
    m_Ostra.SetOstraVersion(prmMajorVersion, prmMinorVersion, prmBuildVersion);
  }
  void SetPlatformType(int prmType) { m_Context.SetPlatformType(prmType); }

  // Replacements of the platform parts, for hosts and tests; set before ConnectStart.
  void SetAppMngFactory(TAppMngFactory prmFactory) {
    m_Startup.SetAppMngFactory(std::move(prmFactory));
  }
  void SetRdpClient(std::unique_ptr<IRdpClient> prmClient) {
    m_Clients.SetRdpClient(std::move(prmClient));
  }
  void SetGetFile(TGetFileFn prmGetFile) { m_Context.SetGetFile(std::move(prmGetFile)); }

  // --- Accessors ---
  // What the session's parts share; the callbacks of desktops, file exchange and monitors.
  TSessionContext& Context() { return m_Context; }
  // The desktops; stable once ConnectStart returned.
  const std::vector<std::unique_ptr<THost>>& GetHosts() const { return m_Ostra.Hosts(); }
  const TDPP& GetDPP() const { return m_Ostra.GetDPP(); }
  // The published applications and their folder tree; complete once ConnectStart returned.
  TAppCatalogue& GetApps() { return m_Ostra.Apps(); }
  TFolder& GetRootFolder() { return m_Ostra.Apps().GetRootFolder(); }
  int GetRDPMajVer() const { return m_Clients.GetRDPMajVer(); }
  std::string GetOstraServer() const { return m_Context.GetOstraServer(); }
  bool IsReady() const { return m_Startup.IsReady(); }
  const std::string& GetFarmsListParams() const { return m_Ostra.GetFarmsListParams(); }
  const std::string& GetDesktopsListParams() const { return m_Ostra.GetDesktopsListParams(); }
  int GetHideDesksParams() const { return m_Ostra.GetHideDesksParams(); }
  TOstraServerVersion GetOstraServerVersion() const { return m_Ostra.GetOstraServerVersion(); }
  const std::string& GetPlugIns() const { return m_Launcher.GetPlugIns(); }
  const std::string& GetSessID() { return m_Context.Gateway().SessID; }
  // The tunnel manager or nullptr (TSessionContext::GetProtocol).
  CAppMng* GetProtocol() { return m_Context.GetProtocol(); }
  // Signalled when the session goes; ends the waits of its threads.
  TEvent& GetTerminateEvent() { return m_Context.GetStopEvent(); }
  // Any thread: the session is going. Every wait ends now (the terminate event, the tunnel's
  // set-up and requests), so the destruction that follows does not wait out a stalled gateway.
  void BeginRelease() { m_Context.BeginDestruction(); }
  TStringList GetUserProfile() const;
  void SetUserProfile(TStringList prmEntries);
  // The machine's identifier; empty when it cannot be read.
  std::string GetDevID() { return m_Context.GetDevID(); }

  // Starts the connect thread and waits until it ended; true when the session became ready.
  // Meant for the control's start-up thread; on the window thread the wait handles messages.
  // A second call starts nothing and returns the first's result.
  bool ConnectStart() { return m_Startup.ConnectStart(); }

  // Offered every message of the control's window first; prmHandled tells whether it was one of
  // the session's.
  void MsgProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam, bool& prmHandled);

  // The file exchange's operations (session/FileExchange.h), under the session's names. GetFile
  // goes through the replacement set with SetGetFile when there is one.
  bool GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
               const std::string& prmStatusText, std::string& prmFailureInfo,
               const std::string& prmProxy) {
    return m_Context.GetFile(prmURL, prmBody, prmStatusID, prmStatusText, prmFailureInfo, prmProxy);
  }
  bool PostFile(const std::string& prmURL, const std::string& prmReq, std::string& prmRes) {
    return m_Context.FileExchange().PostFile(prmURL, prmReq, prmRes);
  }
  bool PostFile2(const std::string& prmURL, const void* prmBody, size_t prmLen,
                 std::string& prmRes) {
    return m_Context.FileExchange().PostFile2(prmURL, prmBody, prmLen, prmRes);
  }
  void LoadUserProfile();
  void SaveUserProfile() { m_Context.FileExchange().SaveUserProfile(); }
  static void ClearRDPCache(std::string& prmOut) { TFileExchange::ClearRDPCache(prmOut); }
  // The monitors' thread bodies (session/Monitors.h); started by the connect thread.
  void MonitorTimeoutsThd() { m_Monitors.MonitorTimeoutsThd(); }
  void MonitorKeyBoardThd() { m_Monitors.MonitorKeyBoardThd(); }

  // --- launches (session/Launcher.h); window thread ---
  void LaunchDesktop(const std::string& prmDest, int prmHostIndex, int prmWidth, int prmHeight,
                     int prmColorDepth, bool prmBitmapCaching, int prmPerfFlags, int prmSound,
                     bool prmConnectToConsole, bool prmSpan, bool prmSSO,
                     const std::string& prmStartApp, const std::string& prmWorkDir,
                     int prmKeyboardHook, TDBMng* prmDBMng) {
    m_Launcher.LaunchDesktop(prmDest, prmHostIndex, prmWidth, prmHeight, prmColorDepth,
                             prmBitmapCaching, prmPerfFlags, prmSound, prmConnectToConsole, prmSpan,
                             prmSSO, prmStartApp, prmWorkDir, prmKeyboardHook, prmDBMng);
  }
  bool LaunchWinDesktop(const TWinDesktopParams& prmParams) {
    return m_Launcher.LaunchWinDesktop(prmParams);
  }
  bool SetRdpClient(IRdpClientControl& prmRDP) { return m_Launcher.SetRdpClient(prmRDP); }
  // --- published applications (session/AppLaunch.h); window thread ---
  // The application of that identity; prmDBMng null: the session's store.
  void LaunchApp(const std::string& prmAppID, TDBMng* prmDBMng = nullptr, int appIdx = -1) {
    m_AppLauncher.LaunchApp(prmAppID, prmDBMng, appIdx);
  }
  int GetRealPortForApp(const std::string& strInfo) const {
    return m_AppLauncher.GetRealPortForApp(strInfo);
  }
  TRdpLaunchWorker& LaunchWorker() { return m_Launcher.LaunchWorker(); }

 private:
  // Built first and freed last: every part holds a reference to it.
  TSessionContext m_Context;
  TOstraClient m_Ostra;
  TClientChecks m_Clients;
  TSessionMonitors m_Monitors;
  TLauncher m_Launcher;
  TAppLauncher m_AppLauncher;
  // Declared last so that its thread is joined before any part it uses goes.
  TSessionStartup m_Startup;
};

}  // namespace vantrel
