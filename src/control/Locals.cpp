#include "control/Locals.h"

#include <new>

#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

// Line feed followed by carriage return, as the error boxes have always shown it.
constexpr const char* kLfCr = "\n\r";

std::string AppLaunchErrorText(const std::string& prmExtra) {
  int code = 0;
  if (TryStrToInt(prmExtra, code)) {
    if (code == -2) return "The application you selected have no servers available";
    if (code == -1) return "Encountered unknown error";
  }
  return "Encountered unknown error (" + prmExtra + ")";
}

std::optional<std::string> TextOrNone(const std::string& prmText) {
  if (prmText.empty()) return std::nullopt;
  return prmText;
}

}  // namespace

std::string ErrorText(int prmErrorID, const std::string& prmExtra) {
  switch (prmErrorID) {
    case TCS_ERR_HOSTS_NOT_LOADED:
      return "Faild to retrieve registered desktops";
    case TCS_ERR_CONTROL_CONN_TIMEOUT:
      return "Failed to start the client (please try to restart the client). Control Connection "
             "Timed out";
    case TCS_ERR_START_FAILED:
      return std::string("Failed to start client (please try to restart the client).") + kLfCr +
             prmExtra;
    case TCS_ERR_RDP_CLIENT_INSTALL:
      return "Failed to install RDP client";
    case TCS_ERR_PLUGINS_MISSING:
      return std::string("The following plugins are missing") + kLfCr + prmExtra;
    case TCS_ERR_INVALID_PORT:
      return "Invalid port specified";
    case TCS_ERR_RESOLVE_HOST:
      return "Could not resolve host name (" + prmExtra + ")";
    case TCS_ERR_OPEN_CONNECTION:
      return "Failed to open a connection to host (" + prmExtra + ")";
    case TCS_ERR_NOT_CONNECTED:
      return "The thin-client is not connected to the gateway, please re-start thin-client.";
    case TCS_ERR_HOST_EMPTY:
      return "Host must be specified";
    case TCS_ERR_WIDTH_NOT_NUMBER:
      return "Width has to be a valid number";
    case TCS_ERR_WIDTH_RANGE:
      return "The width value specified is out of valid range";
    case TCS_ERR_HEIGHT_NOT_NUMBER:
      return "Height has to be a valid number";
    case TCS_ERR_HEIGHT_RANGE:
      return "The height value specified is out of valid range";
    case TCS_ERR_DESKTOP_STATE:
      return std::string("Generic Error") + kLfCr + prmExtra;
    case TCS_ERR_POWERUP:
      return std::string("Power up Failed") + kLfCr + prmExtra;
    case TCS_ERR_CLIENT_VERIFICATION:
      return "Client-Verification failed";
    case TCS_ERR_APP_LAUNCH:
      return AppLaunchErrorText(prmExtra);
    case TCS_ERR_SERVER_AGENT:
      return "Failed to communicate with server agent";
    default:
      return "Unknown error (" + std::to_string(prmErrorID) + ")";
  }
}

std::string DurationText(int prmSeconds) {
  if (prmSeconds <= 0) return "";
  int d = prmSeconds / 86400;
  int h = (prmSeconds % 86400) / 3600;
  int m = (prmSeconds % 3600) / 60;
  int r = prmSeconds % 60;
  auto n = [](int v) { return std::to_string(v); };
  if (d > 0) return n(d) + " day(s) " + n(h) + ":" + n(m) + ":" + n(r);
  if (h > 0) return n(h) + ":" + n(m) + ":" + n(r);
  if (m > 0) return n(m) + ":" + n(r);
  return n(r) + " seconds";
}

TTCSUserInterface::TTCSUserInterface(HWND prmHwnd, TDBMng* prmDBMng)
    : m_HWnd(prmHwnd), m_DBMng(prmDBMng) {}

// Records still here were dropped by a window being destroyed, or never handled.
TTCSUserInterface::~TTCSUserInterface() = default;

template <typename T>
void TTCSUserInterface::PostRecord(TRecords<T>& prmRecords, uint32_t prmMsg, uintptr_t prmWParam,
                                   std::unique_ptr<T> prmRecord) {
  intptr_t key = reinterpret_cast<intptr_t>(prmRecord.get());
  {
    // Registered before the post: the window thread may take it the moment it is queued.
    std::lock_guard<std::mutex> g(m_Lock);
    prmRecords.emplace(key, std::move(prmRecord));
  }
  if (!PostMessage(m_HWnd, prmMsg, prmWParam, key)) {
    std::lock_guard<std::mutex> g(m_Lock);
    prmRecords.erase(key);
  }
}

template <typename T>
std::unique_ptr<T> TTCSUserInterface::TakeRecord(TRecords<T>& prmRecords, intptr_t prmLParam) {
  std::lock_guard<std::mutex> g(m_Lock);
  auto it = prmRecords.find(prmLParam);
  if (it == prmRecords.end()) return nullptr;
  std::unique_ptr<T> r = std::move(it->second);
  prmRecords.erase(it);
  return r;
}

void TTCSUserInterface::UpdateTCSStatus(int prmID, int prmLParam, const std::string& prmSParam) {
  UpdateDownloadStatus(prmID, prmLParam, prmSParam, 0, 0);
}

void TTCSUserInterface::UpdateDownloadStatus(int prmID, int prmLParam, const std::string& prmSParam,
                                             uint64_t prmDone, uint64_t prmTotal) {
  if (prmID == TCS_STATUS_NONE) return;
  try {
    auto r = std::make_unique<TTCSStatusInfo>();
    r->ID = prmID;
    r->LParam = prmLParam;
    r->SParam = TextOrNone(prmSParam);
    r->BytesDone = prmDone;
    r->BytesTotal = prmTotal;
    PostRecord(m_StatusRecords, WM_TCSStateNotify, static_cast<uintptr_t>(prmID), std::move(r));
  } catch (const std::bad_alloc&) {
    WriteDebugLog("TTCSUserInterface.UpdateTCSStatus - out of memory, status dropped");
  }
}

void TTCSUserInterface::ReportError(int prmErrorID, const std::string& prmExtra) {
  try {
    auto r = std::make_unique<TTCSErrorInfo>();
    r->ErrorID = prmErrorID;
    r->Extra = TextOrNone(prmExtra);
    PostRecord(m_ErrorRecords, WM_ReportError, 0, std::move(r));
  } catch (const std::bad_alloc&) {
    WriteDebugLog("TTCSUserInterface.ReportError - out of memory, error dropped");
  }
}

void TTCSUserInterface::PostAlert(int prmKind, int prmSeconds) {
  PostMessage(m_HWnd, WM_TimeoutAlert, static_cast<uintptr_t>(prmKind), prmSeconds);
}

void TTCSUserInterface::IdleTimeoutAlert(int prmSecondsLeft) {
  PostAlert(TCS_ALERT_IDLE, prmSecondsLeft);
}

void TTCSUserInterface::LifetimeTimeoutalert(int prmSecondsLeft) {
  PostAlert(TCS_ALERT_LIFETIME, prmSecondsLeft);
}

void TTCSUserInterface::IdleTimeoutAlertKM(int prmSecondsLeft) {
  PostAlert(TCS_ALERT_IDLE_KM, prmSecondsLeft);
}

void TTCSUserInterface::ClearTimeoutAlerts() {
  PostAlert(TCS_ALERT_CLEAR, 0);
}

void TTCSUserInterface::UpdateHostStatus(int prmID, int prmLParam) {
  PostMessage(m_HWnd, WM_HostStateNotify, static_cast<uintptr_t>(prmID), prmLParam);
}

void TTCSUserInterface::DisableCustomDest() {
  if (m_DBMng) m_DBMng->SetAllowCustomDest(false);
}

std::unique_ptr<TTCSStatusInfo> TTCSUserInterface::TakeStatusInfo(intptr_t prmLParam) {
  return TakeRecord(m_StatusRecords, prmLParam);
}

std::unique_ptr<TTCSErrorInfo> TTCSUserInterface::TakeErrorInfo(intptr_t prmLParam) {
  return TakeRecord(m_ErrorRecords, prmLParam);
}

size_t TTCSUserInterface::PendingRecords() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_StatusRecords.size() + m_ErrorRecords.size();
}

}  // namespace vantrel
