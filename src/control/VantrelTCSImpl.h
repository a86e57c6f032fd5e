// TVantrelTCSX: the control the portal page drives. It owns the configuration store, the UI
// adapter, the session manager and its own window (a message queue whose thread is the thread
// that created the control); the page reaches it through the dispatch table, the property bag
// and the event sink. Every member runs on the window thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/AppFolder.h"
#include "config/DbMng.h"
#include "control/Dispatch.h"
#include "control/EventSink.h"
#include "control/Locals.h"
#include "control/PropertyBag.h"
#include "control/VantrelTCSForm.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "platform/RdpClient.h"
#include "platform/Window.h"
#include "session/VantrelTCSMng.h"

namespace vantrel {

class THost;

// Carries a queued form update from the start-up thread to the window thread.
constexpr uint32_t WM_FormUpdate = WM_USER + 110;

constexpr const char* TCSX_VERSION = "4.0.0.31";
constexpr const char* APP_ICON_URL = "/prx/000/http/localhost:9090/query/appicon?_appid=";

class TVantrelTCSX {
 public:
  // Initialize: builds the form, the store, the adapter and the manager. The calling thread
  // becomes the window thread. prmDialogs is borrowed and must outlive the control.
  explicit TVantrelTCSX(IDialogs& prmDialogs);
  // BeforeDestruction: stops the start-up thread and the session (bounded), then frees them.
  ~TVantrelTCSX();
  TVantrelTCSX(const TVantrelTCSX&) = delete;
  TVantrelTCSX& operator=(const TVantrelTCSX&) = delete;

  // --- dispatch interface ---
  const TDispatchTable& Dispatch() const { return m_Dispatch; }
  TDispResult Invoke(const std::string& prmName, TDispKind prmKind,
                     const std::vector<Variant>& prmArgs = {}) {
    return m_Dispatch.Invoke(prmName, prmKind, prmArgs);
  }

  // --- persistence: reads the start parameters in their fixed order; always succeeds ---
  HRESULT Load(IPropertyBag& prmBag);
  HRESULT InitNew() { return S_OK; }
  HRESULT Save(IPropertyBag&) { return S_OK; }

  // Before Load: no page drives this control (a session file or URL opened into a window or a
  // terminal). Nobody would call InitTCS or receive the events of custom-portal mode, so the
  // session then starts at load whatever "custom_portal" says, and the form shows its state.
  void SetNoPage() { m_NoPage = true; }

  // --- events: one sink, borrowed; nullptr disconnects ---
  void Advise(IVantrelTCSXEvents* prmSink) { FEvents = prmSink; }
  // The form raised one of its events (DISPIDs of EventSink.h, OnKeyPress through KeyPress).
  void FireFormEvent(int32_t prmDispID);
  void KeyPress(char16_t& prmKey);
  // The form's handlers, for a host that shows the form.
  void btConnectClick(bool prmConnectAs);
  void OnAppDeactivate() { m_CurApp = -1; }

  // --- the window and the parts, for the host and tests ---
  TWindow& Window() { return *m_Window; }
  TVantrelTCSForm& Form() { return m_Form; }
  TDBMng& DBMng() { return *m_DBMng; }
  TVantrelTCSMng& TCSMng() { return *m_TCSMng; }
  TTCSUserInterface& UI() { return *m_UI; }
  bool CustomPortal() const { return m_CustomPortal; }
  // The application tree to walk once start-up succeeded (the manager's unless replaced);
  // borrowed, may be null.
  void SetRootFolder(const IAppFolder* prmRoot) { m_RootFolder = prmRoot; }
  void SetRdpClientProbe(std::unique_ptr<IRdpClient> prmProbe) { m_RdpProbe = std::move(prmProbe); }
  // True once the start-up thread ended (its form updates are then queued).
  bool StartupDone() const { return m_StartupDone; }
  TEvent& StartupDoneEvent() { return m_StartupDoneEvent; }

  // Any thread: the page is going away. Ends the session's waits now (requests in flight, the
  // monitors, a start-up in progress), so a call the window thread is in returns soon and the
  // release that follows is quick. The control still answers the calls the page queued.
  void RequestRelease() { m_TCSMng->BeginRelease(); }

  // The launch of the form's settings (error reports go through the adapter).
  void Connect(const std::string& prmDest, bool prmSSO, bool prmSpan);

 private:
  // --- VantrelTCSImpl.cpp ---
  void Initialize();
  void BeforeDestruction();
  intptr_t SubClassWndProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam);
  // Starts DoInit on its own thread; a second start is ignored.
  void StartDoInit();
  THost* CurHost() const;
  THost* HostAt(int prmIndex) const;
  // The desktops the page sees: the manager's, once shown.
  int HostCount() const;
  // --- VantrelTCSImplInit.cpp ---
  void DoInit();
  void ApplyDefaults();
  // Queues prmUpdate for the window thread, in order.
  void PostFormUpdate(std::function<void()> prmUpdate);
  void RunFormUpdate();
  // --- VantrelTCSImplMessages.cpp ---
  void WMTCSStateNotify(uintptr_t prmWParam, intptr_t prmLParam);
  void WMTimeoutAlert(uintptr_t prmWParam, intptr_t prmLParam);
  void WMHostStateNotify(uintptr_t prmWParam, intptr_t prmLParam);
  void WMReportError(uintptr_t prmWParam, intptr_t prmLParam);
  void WMReady() {}
  // In custom-portal mode the page shows the reports itself: prmFire raises the event on the
  // page's sink (when one listens) and the form is left alone. False otherwise.
  bool ToPage(const std::function<void(IVantrelTCSXEvents&)>& prmFire);
  // --- VantrelTCSImplMembers.cpp ---
  void BuildDispatch();
  void BuildFormMembers();
  void BuildSettingsMembers();
  void BuildDesktopMembers();
  void BuildFolderMembers();
  void PutRedir(TCheckBox& prmBox, int prmFlag, int32_t prmValue);
  int32_t DelCurDesktop();
  void PutRDPClient(const std::shared_ptr<IUnknownObject>& prmObject);
  std::string RDPVersion();
  int CurAppCount() const;
  bool ValidCurApp() const;

  std::string m_DestHost;
  bool m_CustomPortal = false;
  bool m_NoPage = false;
  std::unique_ptr<TDBMng> m_DBMng;
  std::unique_ptr<TVantrelTCSMng> m_TCSMng;
  std::unique_ptr<TTCSUserInterface> m_UI;
  // The manager's desktops are shown to the page once start-up listed them on the form.
  bool m_HostsShown = false;
  int m_CurHost = -1;
  int m_CurApp = -1;
  const IAppFolder* m_CurFolder = nullptr;
  int m_CurSubFolder = -1;
  IVantrelTCSXEvents* FEvents = nullptr;

  IDialogs& m_Dialogs;
  TVantrelTCSForm m_Form;
  std::unique_ptr<TWindow> m_Window;
  TDispatchTable m_Dispatch;
  std::vector<std::pair<int32_t, Variant>> m_FormProps;  // the standard form members' values
  const IAppFolder* m_RootFolder = nullptr;
  std::unique_ptr<IRdpClient> m_RdpProbe;
  std::shared_ptr<IUnknownObject> m_RdpClientObject;  // kept alive while the session uses it

  std::mutex m_UpdatesLock;
  std::deque<std::function<void()>> m_Updates;
  std::atomic<bool> m_Stopping{false};
  std::atomic<bool> m_StartupDone{false};
  TEvent m_StartupDoneEvent{true};
  std::thread m_InitThd;
};

}  // namespace vantrel
