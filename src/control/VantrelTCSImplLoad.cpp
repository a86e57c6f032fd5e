// The page's start parameters, read in their fixed order; each one's effect is applied as it is
// read, since later ones depend on earlier ones (the platform's store type before the
// configuration string, the store's GUI switch before custom-portal mode).
#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"

namespace vantrel {

namespace {

// An integer property; a value that is no integer counts as absent.
bool ReadInt(IPropertyBag& prmBag, const std::string& prmName, int& prmValue) {
  std::string text;
  if (!prmBag.Read(prmName, text)) return false;
  if (TryStrToInt(Trim(text), prmValue)) return true;
  WriteDebugLog("TVantrelTCSX.Load - " + prmName + " is not a number, ignored");
  return false;
}

}  // namespace

HRESULT TVantrelTCSX::Load(IPropertyBag& prmBag) {
  RunGuarded("TVantrelTCSX.Load", [&] {
    std::string text;
    std::string moduleID;
    if (prmBag.Read("platform", text)) {
      if (text == "Morv") {
        m_TCSMng->SetPlatformType(PLATFORM_TYPE_MORV);
        m_DBMng->SetType(PLATFORM_TYPE_MORV);
        m_DBMng->SetOstraServer("127.0.0.1:9090");
        moduleID = "Vantrel";
        m_TCSMng->SetDBMng(m_DBMng.get());
      } else {
        m_TCSMng->SetPlatformType(PLATFORM_TYPE_PELX);
        m_DBMng->SetType(PLATFORM_TYPE_PELX);
      }
    }
    std::string spName, spCookies, sessionID;
    int spPort = 0;
    prmBag.Read("sp_name", spName);
    ReadInt(prmBag, "sp_port", spPort);
    prmBag.Read("SPCookies", spCookies);
    prmBag.Read("session_id", sessionID);
    prmBag.Read("module_id", moduleID);
    if (prmBag.Read("farmslist", text)) m_TCSMng->SetFarmsListParams(text);
    if (prmBag.Read("xdfarmslist", text)) m_TCSMng->SetDesktopsListParams(text);
    int hideDesks = 0;
    if (ReadInt(prmBag, "hidedesks", hideDesks)) m_TCSMng->SetHideDesksParams(hideDesks);
    m_TCSMng->SetZUVParams(spName, spPort, spCookies, sessionID, moduleID);

    std::string config;
    if (prmBag.Read("config_str", config)) config = Trim(config);
    if (!config.empty()) {
      m_DBMng->Load(config);
      m_TCSMng->SetTimeoutAlerts(m_DBMng->GetLifetimeAlert(), m_DBMng->GetIdleAlert());
    }
    m_TCSMng->SetDBMng(m_DBMng.get());

    if (prmBag.Read("dest_host", text)) m_DestHost = text;
    // "auto_start", "auto_close", "hide_on_connect" and "start_app" are accepted and unused.
    if (prmBag.Read("custom_portal", text)) {
      m_CustomPortal = text == "1";
    } else {
      m_CustomPortal = !m_DBMng->GetEnableGUI();
      if (m_CustomPortal) m_Form.cbSpan.Checked = true;
    }
    if (m_CustomPortal && m_NoPage) {
      WriteDebugLog("TVantrelTCSX.Load - no page drives the control; it starts the session itself");
      m_CustomPortal = false;
    }
    if (prmBag.Read("work_dir", text)) m_TCSMng->SetWorkingDir(text);
    if (prmBag.Read("perf_preset", text)) {
      int preset = -1;
      if (!TryStrToInt(text, preset)) preset = -1;
      if (preset >= 0 && preset <= 3) {
        m_Form.cbxConnType.Select(preset);
        m_Form.cbxConnTypeChange();
      }
    }
    if (prmBag.Read("hide_ui", text) && text == "1") m_Form.PageControl1.Visible = false;

    if (!m_CustomPortal) StartDoInit();
  });
  return S_OK;
}

}  // namespace vantrel
