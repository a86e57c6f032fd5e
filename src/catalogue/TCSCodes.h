// The numbers every layer reports with: window messages to the control, session status codes,
// error codes and timeout-alert kinds, and the reporting interface the session manager uses.
// They live here, below the session manager, so that it and the catalogue can report without
// reaching up to the control, which implements ITCSUserInterface (control/Locals.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Window.h"

namespace vantrel {

// Messages handled by the session manager's MsgProc.
constexpr uint32_t WM_ControlConnLost = WM_USER + 1;
constexpr uint32_t WM_RDP_DISCONNECT = WM_USER + 2;
constexpr uint32_t WM_HostStateChanged = WM_USER + 11;
constexpr uint32_t TCS_STATUS_RECONNECT = WM_USER + 12;
// Messages handled by the control.
constexpr uint32_t WM_TimeoutAlert = WM_USER + 100;
constexpr uint32_t WM_TCSStateNotify = WM_USER + 101;
constexpr uint32_t WM_HostStateNotify = WM_USER + 102;
constexpr uint32_t WM_ReportError = WM_USER + 103;
constexpr uint32_t WM_Ready = WM_USER + 104;

// Session status codes (wParam of WM_TCSStateNotify).
constexpr int TCS_STATUS_CONNECTING = 1;
constexpr int TCS_STATUS_CONNECT_FAILED = 2;
constexpr int TCS_STATUS_CONNECTED = 3;
constexpr int TCS_STATUS_GET_DESKTOPS = 4;
constexpr int TCS_STATUS_DOWNLOAD = 5;
constexpr int TCS_STATUS_READY = 6;
constexpr int TCS_STATUS_CLIENT_VERIFICATION = 7;
constexpr int TCS_STATUS_DISCONNECTED = 8;
constexpr int TCS_STATUS_GET_INFO = 10;
constexpr int TCS_STATUS_GET_PROFILE = 11;
// A fetch made without a status passes this; UpdateTCSStatus then posts nothing.
constexpr int TCS_STATUS_NONE = -1;

// Error codes (ErrorID of WM_ReportError); ErrorText gives what the user is shown.
constexpr int TCS_ERR_HOSTS_NOT_LOADED = 1;
constexpr int TCS_ERR_CONTROL_CONN_TIMEOUT = 2;
constexpr int TCS_ERR_START_FAILED = 3;
constexpr int TCS_ERR_RDP_CLIENT_INSTALL = 4;
constexpr int TCS_ERR_PLUGINS_MISSING = 5;
constexpr int TCS_ERR_INVALID_PORT = 6;
constexpr int TCS_ERR_RESOLVE_HOST = 7;
constexpr int TCS_ERR_OPEN_CONNECTION = 8;
constexpr int TCS_ERR_NOT_CONNECTED = 10;
constexpr int TCS_ERR_HOST_EMPTY = 11;
constexpr int TCS_ERR_WIDTH_NOT_NUMBER = 12;
constexpr int TCS_ERR_WIDTH_RANGE = 13;
constexpr int TCS_ERR_HEIGHT_NOT_NUMBER = 14;
constexpr int TCS_ERR_HEIGHT_RANGE = 15;
constexpr int TCS_ERR_DESKTOP_STATE = 17;
constexpr int TCS_ERR_POWERUP = 18;
constexpr int TCS_ERR_CLIENT_VERIFICATION = 19;
constexpr int TCS_ERR_APP_LAUNCH = 20;
constexpr int TCS_ERR_SERVER_AGENT = 21;
constexpr int TCS_ERR_DEVICE_REFUSED_ID = 25;
constexpr int TCS_ERR_ACCESS_DENIED = 26;
constexpr int TCS_ERR_DEVICE_REFUSED = 27;
constexpr int TCS_ERR_RECONNECT = 28;

// Timeout-alert kinds (wParam of WM_TimeoutAlert); the lParam is the seconds left, -1 = reached.
constexpr int TCS_ALERT_CLEAR = 0;
constexpr int TCS_ALERT_IDLE = 1;
constexpr int TCS_ALERT_LIFETIME = 2;
constexpr int TCS_ALERT_IDLE_KM = 3;
constexpr int TCS_ALERT_EXPIRED = -1;

// What worker threads report to the user. Every operation may be called from any thread and
// only posts to the control's window; it never blocks and never calls into the page.
class ITCSUserInterface {
 public:
  virtual ~ITCSUserInterface() = default;
  // TCS_STATUS_NONE posts nothing. An empty text reaches the receiver as "no text".
  virtual void UpdateTCSStatus(int prmID, int prmLParam, const std::string& prmSParam) = 0;
  // A download's status with the bytes behind its share, for a window that shows them; the
  // page is told the plain status.
  virtual void UpdateDownloadStatus(int prmID, int prmPercent, const std::string& prmText,
                                    uint64_t /*prmDone*/, uint64_t /*prmTotal*/) {
    UpdateTCSStatus(prmID, prmPercent, prmText);
  }
  // An empty extra text reaches the receiver as "no text".
  virtual void ReportError(int prmErrorID, const std::string& prmExtra) = 0;
  virtual void IdleTimeoutAlert(int prmSecondsLeft) = 0;
  virtual void LifetimeTimeoutalert(int prmSecondsLeft) = 0;
  virtual void IdleTimeoutAlertKM(int prmSecondsLeft) = 0;
  virtual void ClearTimeoutAlerts() = 0;
  virtual void UpdateHostStatus(int prmID, int prmLParam) = 0;
  // Forbids destinations typed by the user from now on (the device was refused).
  virtual void DisableCustomDest() = 0;
};

// Tells nobody: for an owner without a page to report to (fuzzing, tests).
class TSilentUserInterface : public ITCSUserInterface {
 public:
  void UpdateTCSStatus(int, int, const std::string&) override {}
  void ReportError(int, const std::string&) override {}
  void IdleTimeoutAlert(int) override {}
  void LifetimeTimeoutalert(int) override {}
  void IdleTimeoutAlertKM(int) override {}
  void ClearTimeoutAlerts() override {}
  void UpdateHostStatus(int, int) override {}
  void DisableCustomDest() override {}
};

}  // namespace vantrel
