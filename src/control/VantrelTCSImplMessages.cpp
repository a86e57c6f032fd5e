// The five report messages: events to the page in custom-portal mode, the embedded form
// otherwise. Records are taken from the adapter first, so each is freed whatever the mode.
#include "catalogue/Host.h"
#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

bool TVantrelTCSX::ToPage(const std::function<void(IVantrelTCSXEvents&)>& prmFire) {
  if (!m_CustomPortal) return false;
  if (FEvents != nullptr) prmFire(*FEvents);
  return true;
}

void TVantrelTCSX::WMTCSStateNotify(uintptr_t prmWParam, intptr_t prmLParam) {
  std::unique_ptr<TTCSStatusInfo> info = m_UI->TakeStatusInfo(prmLParam);
  if (info == nullptr) {
    WriteDebugLog("TVantrelTCSX.WMTCSStateNotify - no status record");
    return;
  }
  const std::string text = info->SParam.value_or("");
  if (ToPage([&](IVantrelTCSXEvents& prmSink) {
        prmSink.OnTCSStatusChanged(info->ID, info->LParam, text);
      }))
    return;
  switch (static_cast<int>(prmWParam)) {
    case TCS_STATUS_CONNECTING:
      m_Form.ShowProgress("Connecting...");
      break;
    case TCS_STATUS_CONNECT_FAILED:
      m_Form.ShowAlert("Failed to connect to gateway");
      break;
    case TCS_STATUS_CONNECTED:
    case TCS_STATUS_READY:
      m_Form.ClearStatus();
      break;
    case TCS_STATUS_GET_DESKTOPS:
      m_Form.ShowProgress("Retrieving Desktops ...");
      break;
    case TCS_STATUS_DOWNLOAD:
      if (info->LParam >= 100)
        m_Form.ClearStatus();
      else if (info->LParam <= 0)
        m_Form.ShowProgress(FormatMsg("%s ...", {text}));
      else
        m_Form.ShowProgress(FormatMsg("%s (%d) ...", {text, info->LParam}));
      if (info->LParam < 100) m_Form.Download = {info->BytesDone, info->BytesTotal};
      break;
    case TCS_STATUS_CLIENT_VERIFICATION:
      m_Form.ShowProgress("Performing Client Verification, please wait...");
      break;
    case TCS_STATUS_DISCONNECTED:
      // An error already on the status line stays; the session cannot be used any more.
      if (!m_Form.lblInfo.Visible) m_Form.ShowAlert("Lost connection to the gateway");
      m_Form.btConnect.Enabled = m_Form.btConnectAs.Enabled = false;
      break;
    case TCS_STATUS_GET_PROFILE:
      m_Form.ShowProgress("Retrieving User Profile...");
      break;
    default:
      break;
  }
}

void TVantrelTCSX::WMTimeoutAlert(uintptr_t prmWParam, intptr_t prmLParam) {
  const int kind = static_cast<int>(prmWParam);
  const int seconds = static_cast<int>(prmLParam);
  if (ToPage([&](IVantrelTCSXEvents& prmSink) { prmSink.OnTimeoutAlert(kind, seconds); })) return;
  switch (kind) {
    case TCS_ALERT_CLEAR:
      m_Form.ClearStatus();
      break;
    case TCS_ALERT_IDLE:
      m_Form.ShowAlert(seconds == TCS_ALERT_EXPIRED
                           ? std::string("Due to inactivity your session expired")
                           : "Due to inactivity your session will terminate in " +
                                 DurationText(seconds));
      break;
    case TCS_ALERT_LIFETIME:
      m_Form.ShowAlert(seconds == TCS_ALERT_EXPIRED
                           ? std::string("Your session expired")
                           : "Your session will terminate in " + DurationText(seconds) +
                                 " Please save your work now !");
      break;
    default:
      break;
  }
}

void TVantrelTCSX::WMHostStateNotify(uintptr_t prmWParam, intptr_t prmLParam) {
  const int index = static_cast<int>(prmWParam);
  const int status = static_cast<int>(prmLParam);
  if (ToPage([&](IVantrelTCSXEvents& prmSink) { prmSink.OnHostStatusChanged(index, status); }))
    return;
  // The manager's list, which is the one the index was posted for.
  const auto& hosts = m_TCSMng->GetHosts();
  THost* host =
      (index >= 0 && index < static_cast<int>(hosts.size())) ? hosts[index].get() : nullptr;
  switch (status) {
    case HOST_STATUS_UNKNOWN:
      m_Form.ShowAlert(host != nullptr ? host->GetDesc() + " in an unknown state"
                                       : std::string("Unknown error"));
      m_Form.PageControl1.Enabled = true;
      break;
    case HOST_STATUS_AVAILABLE:
      m_Form.ClearStatus();
      m_Form.PageControl1.Enabled = true;
      Connect("", true, m_DBMng->GetMonitorSpan());
      break;
    case HOST_STATUS_POWERED_OFF:
      if (m_Dialogs.Confirm("It seems the desktop might be turned off\r\nWould you like to try "
                            "and turn it on?",
                            m_Form.Caption)) {
        if (host != nullptr) host->PowerupDesktop();
      } else {
        m_Form.ClearStatus();
        m_Form.PageControl1.Enabled = true;
      }
      break;
    case HOST_STATUS_POWERING_UP:
      m_Form.ShowProgress("Powering Up...");
      break;
    case HOST_STATUS_VERIFYING:
      m_Form.ShowProgress("Verifying Desktop Availability...");
      break;
    case HOST_STATUS_POWERUP_FAILED:
      m_Form.ShowAlert(host != nullptr ? "Power up failed for " + host->GetDesc()
                                       : std::string("Power up failed"));
      m_Form.PageControl1.Enabled = true;
      break;
    default:
      break;
  }
}

void TVantrelTCSX::WMReportError(uintptr_t, intptr_t prmLParam) {
  std::unique_ptr<TTCSErrorInfo> info = m_UI->TakeErrorInfo(prmLParam);
  if (info == nullptr) return;
  const std::string extra = info->Extra.value_or("");
  if (ToPage([&](IVantrelTCSXEvents& prmSink) { prmSink.OnError(info->ErrorID, extra); })) return;
  m_Dialogs.MessageBox(ErrorText(info->ErrorID, extra), m_Form.Caption, MB_OK | MB_ICONERROR);
}

}  // namespace vantrel
