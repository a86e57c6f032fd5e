// TSessionContext: what every part of one portal session shares, built once by the session
// manager and lent to its parts by reference: the gateway parameters, the settings store, the
// reporting channel, the window and its dialogs, the tunnel, the file exchange and the stop
// event. It answers the callback interfaces of the desktop records, the file exchange and the
// monitors.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "catalogue/HostOwner.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "platform/Window.h"
#include "session/FileExchange.h"
#include "session/FileExchangeHost.h"
#include "session/MonitorHost.h"
#include "session/WindowDialogs.h"
#include "tunnel/AppMngFactory.h"

namespace vantrel {

// One HTTP GET of the session: the arguments and result of GetFile, the body collected whole.
using TGetFileFn = std::function<bool(const std::string& prmURL, std::string& prmBody,
                                      int prmStatusID, const std::string& prmStatusText,
                                      std::string& prmFailureInfo, const std::string& prmProxy)>;

// The gateway as the page named it; set on the window thread before start-up.
struct TGatewayParams {
  std::string SP;
  int SPPort = 443;
  std::string SPCookie;
  std::string SessID;
  std::string ModID;
};

class TSessionContext final : public IHostOwner, public IFileExchangeHost, public IMonitorHost {
 public:
  // prmUI and prmDialogs are borrowed and must outlive the context; prmHwnd may be null.
  TSessionContext(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs);
  TSessionContext(const TSessionContext&) = delete;
  TSessionContext& operator=(const TSessionContext&) = delete;

  // Sets the in-destruction flag, then the stop event, and cancels the tunnel's waits: every
  // wait of the session ends. Any thread.
  void BeginDestruction();

  // --- settings (window thread, before start-up) ---
  void SetDBMng(TDBMng* prmDBMng) { m_DBMng = prmDBMng; }
  bool HasDBMng() const { return m_DBMng != nullptr; }
  TGatewayParams& Gateway() { return m_Gateway; }
  void SetPlatformType(int prmType) { m_PlatformType = prmType; }
  void SetTimeoutAlerts(int prmLifetimeAlert, int prmIdleAlert);
  void SetIdleTimeoutKM(int prmSeconds) { m_IdleTimeout_km = prmSeconds; }
  // The store's availability-server address; empty without store.
  std::string GetOstraServer() const;
  // The machine's identifier; empty when it cannot be read.
  std::string GetDevID() const;

  TWindowDialogs& Dialogs() { return m_Dialogs; }

  // --- tunnel ---
  // The tunnel manager or nullptr; a caller holding it keeps it alive while another thread
  // frees the context's reference.
  std::shared_ptr<CAppMng> Protocol() const;
  void SetProtocol(std::shared_ptr<CAppMng> prmProtocol);
  // Drops the context's reference; the tunnel goes here unless a caller still holds it.
  void FreeProtocol();
  // Shared with the tunnel built from them; changed here while the tunnel runs.
  const std::shared_ptr<TTunnelOptions>& TunnelOptions() const { return m_TunnelOptions; }
  // SendLogMsg (level, text) to the gateway when there is a tunnel.
  void SendLog(uint8_t prmLevel, const std::string& prmText);

  // --- file exchange ---
  TFileExchange& FileExchange() { return *m_FileExchange; }
  const TFileExchange& FileExchange() const { return *m_FileExchange; }
  void SetGetFile(TGetFileFn prmGetFile) { m_GetFile = std::move(prmGetFile); }
  // The file exchange's GetFile, or the replacement set with SetGetFile.
  bool GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
               const std::string& prmStatusText, std::string& prmFailureInfo,
               const std::string& prmProxy);

  // --- ISessionServices ---
  TDBMng& GetDBMng() override;
  ITCSUserInterface& GetUI() override { return m_UI; }
  bool InDestruction() override { return m_InDestruction; }
  TEvent& GetStopEvent() override { return m_TerminateEvent; }
  // --- IHostOwner ---
  bool FetchOstra(const std::string& prmURL, std::string& prmBody,
                  std::string& prmFailText) override;
  std::string GetUsername(bool prmNoAlt) override;
  std::string GetPassword(bool prmNoAlt) override;
  uint32_t ResolveHost(const std::string& prmHost) override;
  void ReportError(int prmErrorID, const std::string& prmExtra) override;
  void PostHostStatus(int prmIndex, int prmStatus) override;
  // --- IFileExchangeHost ---
  // Valid on the window thread and on the session's own threads: the tunnel is freed only by
  // the connect thread's failure paths (before the session is ready) and by destruction after
  // those threads ended.
  CAppMng* GetProtocol() override { return Protocol().get(); }
  HWND GetHWND() override { return m_Hwnd; }
  std::string GetSP() override { return m_Gateway.SP; }
  int GetSPPort() override { return m_Gateway.SPPort; }
  std::string GetSPCookie() override { return m_Gateway.SPCookie; }
  std::string GetModID() override { return m_Gateway.ModID; }
  int GetPlatformType() override { return m_PlatformType; }
  // --- IMonitorHost ---
  // False without a tunnel or when it was lost (its answer is then no answer).
  bool GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) override;
  void ResetTimers() override;
  int GetLifetimeAlert() override { return m_LifetimeAlert; }
  int GetIdleAlert() override { return m_IdleAlert; }
  int GetIdleTimeoutKM() override { return m_IdleTimeout_km; }

 private:
  ITCSUserInterface& m_UI;
  HWND m_Hwnd;
  std::atomic<bool> m_InDestruction{false};
  TEvent m_TerminateEvent{true};
  // Worker threads ask through it; the window thread shows.
  TWindowDialogs m_Dialogs;
  TGatewayParams m_Gateway;
  int m_PlatformType = PLATFORM_TYPE_PELX;
  TDBMng* m_DBMng = nullptr;
  TDBMng m_NoDBMng;  // answers the store's questions while none is set
  std::atomic<int> m_LifetimeAlert{0};
  std::atomic<int> m_IdleAlert{0};
  std::atomic<int> m_IdleTimeout_km{0};
  mutable std::mutex m_ProtocolLock;
  std::shared_ptr<CAppMng> m_Protocol;
  const std::shared_ptr<TTunnelOptions> m_TunnelOptions = std::make_shared<TTunnelOptions>();
  TGetFileFn m_GetFile;
  // Holds a reference to this context; created last.
  std::unique_ptr<TFileExchange> m_FileExchange;
};

}  // namespace vantrel
