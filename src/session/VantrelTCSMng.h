// TVantrelTCSMng: the owner of one portal session. It builds the tunnel to the gateway, checks
// the RDP and Citrix clients, loads the availability server's information and the user's
// catalogue, and reports to the control through the UI adapter. Created, fed and destroyed on
// the control's window thread; start-up runs on its own connect thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/DPP.h"
#include "catalogue/Host.h"
#include "catalogue/HostOwner.h"
#include "catalogue/ParamList.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "platform/RdpClient.h"
#include "platform/Window.h"
#include "session/DesktopLaunch.h"
#include "session/FileExchange.h"
#include "session/FileExchangeHost.h"
#include "session/MonitorHost.h"
#include "session/Monitors.h"
#include "session/RdpClientControl.h"
#include "session/RdpFile.h"
#include "session/WindowDialogs.h"
#include "tunnel/AppMngFactory.h"

namespace vantrel {

class TXmlNode;

struct TOstraServerVersion {
  int VerMaj = 0;
  int VerMin = 0;
  int BuildNum = 0;
};

// One HTTP GET of the session: the arguments and result of GetFile, the body collected whole.
using TGetFileFn = std::function<bool(const std::string& prmURL, std::string& prmBody,
                                      int prmStatusID, const std::string& prmStatusText,
                                      std::string& prmFailureInfo, const std::string& prmProxy)>;

class TVantrelTCSMng final : public IHostOwner, public IFileExchangeHost, public IMonitorHost {
 public:
  // Create. prmUI and prmDialogs are borrowed and must outlive the manager; prmHwnd is the
  // control's window (may be null: reports then go nowhere and dialogs are shown directly).
  TVantrelTCSMng(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs);
  // Destroy. Bounded: ends every wait of the session's threads, joins them, then frees the
  // tunnel and the catalogue. Window thread.
  ~TVantrelTCSMng() override;
  TVantrelTCSMng(const TVantrelTCSMng&) = delete;
  TVantrelTCSMng& operator=(const TVantrelTCSMng&) = delete;

  // --- Setters (window thread, before start-up) ---
  // Borrowed; must outlive the manager. Appends the plug-ins found and reports each missing
  // required one (error 5).
  void SetDBMng(TDBMng* prmDBMng);
  void SetZUVParams(const std::string& prmSP, int prmSPPort, const std::string& prmSPCookie,
                    const std::string& prmSessCookie, const std::string& prmModuleID);
  void SetWorkingDir(const std::string& prmWorkDir) { m_WorkDir = prmWorkDir; }
  void SetFarmsListParams(const std::string& farmslst);
  void SetDesktopsListParams(const std::string& desktopslst);
  void SetHideDesksParams(int hideDesks) { m_HideDesks = hideDesks; }
  void SetTimeoutAlerts(int prmLifetimeAlert, int prmIdleAlert);
  void SetIdleTimeoutKM(int idleTimeout) { m_IdleTimeout_km = idleTimeout; }
  void SetOstraVersion(int prmMajorVersion, int prmMinorVersion, int prmBuildVersion);
  void SetPlatformType(int prmType) { m_PlatformType = prmType; }

  // Replacements of the platform parts, for hosts and tests; set before ConnectStart.
  void SetAppMngFactory(TAppMngFactory prmFactory) { m_AppMngFactory = std::move(prmFactory); }
  void SetRdpClient(std::unique_ptr<IRdpClient> prmClient) { m_RdpClient = std::move(prmClient); }
  void SetGetFile(TGetFileFn prmGetFile) { m_GetFile = std::move(prmGetFile); }

  // --- Accessors ---
  // The desktops; stable once ConnectStart returned.
  const std::vector<std::unique_ptr<THost>>& GetHosts() const { return m_Hosts; }
  const TDPP& GetDPP() const { return m_DPP; }
  int GetRDPMajVer() const { return m_RDPMajVer; }
  std::string GetOstraServer() const;
  bool IsReady() const { return m_Ready; }
  const std::string& GetFarmsListParams() const { return m_FarmsList; }
  const std::string& GetDesktopsListParams() const { return m_DesktopsList; }
  int GetHideDesksParams() const { return m_HideDesks; }
  TOstraServerVersion GetOstraServerVersion() const;
  const std::string& GetPlugIns() const { return m_PlugIns; }
  const std::string& GetSessID() const { return m_SessID; }
  TStringList GetUserProfile() const { return m_FileExchange->GetUserProfile(); }
  void SetUserProfile(TStringList prmEntries) {
    m_FileExchange->SetUserProfile(std::move(prmEntries));
  }
  // The machine's identifier; empty when it cannot be read.
  std::string GetDevID();

  // Starts the connect thread and waits until it ended; true when the session became ready.
  // Meant for the control's start-up thread; on the window thread the wait handles messages.
  // A second call starts nothing and returns the first's result.
  bool ConnectStart();

  // Offered every message of the control's window first; prmHandled tells whether it was one of
  // the session's.
  void MsgProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam, bool& prmHandled);

  // The file exchange's operations (session/FileExchange.h), under the session's names. GetFile
  // goes through the replacement set with SetGetFile when there is one.
  bool GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
               const std::string& prmStatusText, std::string& prmFailureInfo,
               const std::string& prmProxy);
  bool PostFile(const std::string& prmURL, const std::string& prmReq, std::string& prmRes) {
    return m_FileExchange->PostFile(prmURL, prmReq, prmRes);
  }
  bool PostFile2(const std::string& prmURL, const void* prmBody, size_t prmLen,
                 std::string& prmRes) {
    return m_FileExchange->PostFile2(prmURL, prmBody, prmLen, prmRes);
  }
  void LoadUserProfile();
  void SaveUserProfile() { m_FileExchange->SaveUserProfile(); }
  static void ClearRDPCache(std::string& prmOut) { TFileExchange::ClearRDPCache(prmOut); }
  // The monitors' thread bodies (session/Monitors.h); started by the connect thread.
  void MonitorTimeoutsThd() { m_Monitors->MonitorTimeoutsThd(); }
  void MonitorKeyBoardThd() { m_Monitors->MonitorKeyBoardThd(); }

  // --- desktop launch (VantrelTCSMngLaunch.cpp); window thread ---
  // Failures are reported as errors 6, 7, 8, 10 and 11. prmPerfFlags, prmSound, prmSpan and
  // prmKeyboardHook are accepted but the store's values are used.
  void LaunchDesktop(const std::string& prmDest, int prmHostIndex, int prmWidth, int prmHeight,
                     int prmColorDepth, bool prmBitmapCaching, int prmPerfFlags, int prmSound,
                     bool prmConnectToConsole, bool prmSpan, bool prmSSO,
                     const std::string& prmStartApp, const std::string& prmWorkDir,
                     int prmKeyboardHook, TDBMng* prmDBMng);
  // Writes the connection file and starts the RDP client program on it; true once both were
  // attempted. Start failures are shown as error boxes.
  bool LaunchWinDesktop(const TWinDesktopParams& prmParams);
  // Re-targets a page-hosted RDP client control at a loopback listener for its server; false
  // when one of the control's property calls failed.
  bool SetRdpClient(IRdpClientControl& prmRDP);
  // The background clean-up of connection files (created with the first launch).
  TRdpLaunchWorker& LaunchWorker();

  // --- IHostOwner, IFileExchangeHost, IMonitorHost ---
  TDBMng& GetDBMng() override;
  bool FetchOstra(const std::string& prmURL, std::string& prmBody,
                  std::string& prmFailText) override;
  std::string GetUsername(bool prmNoAlt) override;
  std::string GetPassword(bool prmNoAlt) override;
  uint32_t ResolveHost(const std::string& prmHost) override;
  void ReportError(int prmErrorID, const std::string& prmExtra) override;
  void PostHostStatus(int prmIndex, int prmStatus) override;
  TEvent& GetStopEvent() override { return m_TerminateEvent; }
  // The tunnel manager or nullptr. The pointer stays valid on the window thread and on the
  // session's own threads: the tunnel is freed only by the connect thread's failure paths
  // (before the session is ready) and by destruction after those threads ended.
  CAppMng* GetProtocol() override;
  ITCSUserInterface& GetUI() override { return m_UI; }
  HWND GetHWND() override { return m_Hwnd; }
  std::string GetSP() override { return m_SP; }
  int GetSPPort() override { return m_SPPort; }
  std::string GetSPCookie() override { return m_SPCookie; }
  std::string GetModID() override { return m_ModID; }
  int GetPlatformType() override { return m_PlatformType; }
  bool InDestruction() override { return m_InDestruction; }
  bool GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) override;
  void ResetTimers() override;
  int GetLifetimeAlert() override { return m_LifetimeAlert; }
  int GetIdleAlert() override { return m_IdleAlert; }
  int GetIdleTimeoutKM() override { return m_IdleTimeout_km; }
  TEvent& GetTerminateEvent() override { return m_TerminateEvent; }

 private:
  // What ConnectStart waits on; shared so that a destruction meanwhile leaves it valid.
  struct TConnectState {
    TEvent Done{true};
    std::atomic<bool> Ready{false};
  };

  // --- connect thread (VantrelTCSMngConnect.cpp) ---
  void ConnectThd(std::shared_ptr<TConnectState> prmState);
  void RunConnectSteps();
  // Steps 1-5 of the tunnel set-up; false when start-up must end.
  bool OpenTunnel();
  bool WaitTunnelReady();
  // Status 2, error 3 with prmMsg, no tunnel.
  void TunnelFailed(const std::string& prmMsg);
  void FreeProtocol();
  void ApplyKeepAlive();
  void SendLog(uint8_t prmLevel, const std::string& prmText);

  // --- availability server (VantrelTCSMngOstra.cpp) ---
  bool GetOstraInfo();
  bool ReadOstraInfo(const TXmlNode& prmRoot);
  bool GetPostLoginClientVerificationRules();
  std::string ClientVerification(std::string& prmFailureInfo);
  bool GetHosts(const std::string& prmAnswer, std::string& prmFailureInfo);
  // User and password of the catalogue request, and the extra parameters the later servers get.
  void CatalogueCredentials(std::string& prmUser, std::string& prmPwd,
                            std::vector<std::pair<std::string, std::string>>& prmExtra);
  void LoadCatalogue(const TXmlNode& prmRoot);

  // --- client checks (VantrelTCSMngClients.cpp) ---
  bool CheckRdpClient();
  bool InstallRdpClient();
  void CheckCitrixClient();
  bool DownloadXenAppClient();
  std::string ProbeCitrixClient();
  void PrepareTempFolder();
  void DeleteTempRdpFiles();

  std::shared_ptr<CAppMng> Protocol() const;
  // --- desktop launch helpers (VantrelTCSMngLaunch.cpp) ---
  // Steps 7 and 8 of a launch: the host's address (error 7) and a listener for it (error 8).
  bool OpenDesktopListener(CAppMng& prmProtocol, const std::string& prmHost, int prmPort,
                           int& prmLocalPort);
  // Waits prmMs on the window thread while keeping its messages flowing; false when the session
  // is going.
  bool LaunchPause(int prmMs);

  // Fields in the order of the design; the values are the initial ones.
  std::string m_SP;
  int m_SPPort = 443;
  std::string m_SPCookie;
  std::string m_SessID;
  std::string m_ModID;
  std::string m_WorkDir;
  ITCSUserInterface& m_UI;
  std::string m_PlugIns;
  std::atomic<bool> m_InDestruction{false};
  std::atomic<bool> m_Ready{false};
  std::atomic<int> m_LifetimeAlert{0};
  std::atomic<int> m_IdleAlert{0};
  std::atomic<int> m_IdleTimeout_km{0};
  TEvent m_TerminateEvent{true};
  std::atomic<int> m_RDPMajVer{5};
  // Guarded by m_ProtocolLock; shared so that a caller holding it while the connect thread
  // frees it never sees it destroyed under it.
  mutable std::mutex m_ProtocolLock;
  std::shared_ptr<CAppMng> m_Protocol;
  // Shared with the tunnel it builds; changed here while the tunnel runs.
  const std::shared_ptr<TTunnelOptions> m_TunnelOptions = std::make_shared<TTunnelOptions>();
  std::mutex m_HostsLock;  // the connect thread fills m_Hosts while MsgProc may read it
  std::vector<std::unique_ptr<THost>> m_Hosts;
  HWND m_Hwnd;
  // Worker threads ask through it; the window thread shows.
  TWindowDialogs m_Dialogs;
  TStringList m_AppHostAndPort;
  TDPP m_DPP;
  TDBMng* m_DBMng = nullptr;
  TDBMng m_NoDBMng;  // answers the store's questions while none is set
  int m_PlatformType = PLATFORM_TYPE_PELX;
  mutable std::mutex m_VersionLock;
  TOstraServerVersion m_OstraServerVersion;
  std::string m_FarmsList;
  std::string m_DesktopsList;
  bool m_ExistFarmsList = false;
  bool m_ExistDesktopsList = false;
  int m_HideDesks = -1;

  std::string m_CitrixClientPath;
  TAppMngFactory m_AppMngFactory = CreateAppMng;
  std::unique_ptr<IRdpClient> m_RdpClient;
  TGetFileFn m_GetFile;
  // Both hold a reference to this manager; created last, stopped first.
  std::unique_ptr<TFileExchange> m_FileExchange;
  std::unique_ptr<TSessionMonitors> m_Monitors;

  std::mutex m_ThreadLock;
  std::thread m_ConnectThd;
  std::shared_ptr<TConnectState> m_ConnectState;
  // Declared last so that it stops first; it touches only the connection-file folder.
  std::unique_ptr<TRdpLaunchWorker> m_LaunchWorker;
};

}  // namespace vantrel
