// Start-up on its own thread. The thread never touches the form: every widget change is queued
// and carried to the window thread by WM_FormUpdate, so the changes run there in the order made
// and before the status that follows them.
#include "catalogue/Host.h"
#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"

namespace vantrel {

void TVantrelTCSX::PostFormUpdate(std::function<void()> prmUpdate) {
  {
    std::lock_guard<std::mutex> g(m_UpdatesLock);
    m_Updates.push_back(std::move(prmUpdate));
  }
  // A dropped post (window going) leaves the update queued; it is freed with the control.
  PostMessage(m_Window.get(), WM_FormUpdate);
}

void TVantrelTCSX::RunFormUpdate() {
  std::function<void()> update;
  {
    std::lock_guard<std::mutex> g(m_UpdatesLock);
    if (m_Updates.empty()) return;
    update = std::move(m_Updates.front());
    m_Updates.pop_front();
  }
  update();
}

void TVantrelTCSX::DoInit() {
  // The store is complete before start-up and only read from here on.
  const bool allowRedir = m_DBMng->GetAllowRedirConfig();
  const bool allowConsole = m_DBMng->GetAllowConnectToConsole();
  const bool ostra = m_DBMng->OstraEnabled();
  const bool customDest = m_DBMng->AllowCustomDest();
  PostFormUpdate([this, allowRedir, allowConsole, ostra, customDest] {
    m_Form.gbRedirection.Visible = allowRedir;
    m_Form.cbConnectToConsole.Visible = allowConsole;
    if (ostra) {
      m_Form.edHost.Visible = false;
      m_Form.cbHost.Visible = true;
      if (!customDest) {
        m_Form.cbHost.PickOnly = true;
        m_Form.btConnectAs.Visible = false;
      }
    }
  });
  if (m_Stopping) return;
  if (m_TCSMng->ConnectStart() && !m_Stopping) {
    PostFormUpdate([this] {
      m_Form.btConnect.Enabled = m_Form.btConnectAs.Enabled = true;
      for (const auto& h : m_TCSMng->GetHosts()) {
        std::string text = h->GetDesc();
        if (h->GetDaysLeft() > 0)
          text += "(expires in " + std::to_string(h->GetDaysLeft()) + " day(s)";
        if (!m_CustomPortal) m_Form.cbHost.Items.push_back(text);
      }
      m_HostsShown = true;
      m_CurFolder = m_RootFolder;
    });
  }
  if (m_Stopping) return;
  PostFormUpdate([this] { ApplyDefaults(); });
  m_UI->UpdateTCSStatus(TCS_STATUS_READY, 0, "");
}

void TVantrelTCSX::ApplyDefaults() {
  m_Form.edHost.Text = m_DBMng->GetDefHost().empty() ? m_DestHost : m_DBMng->GetDefHost();
  const int size = m_DBMng->GetDefSize();
  m_Form.cbSize.Select(size == -1 ? SIZE_FULL_SCREEN : size);
  m_Form.cbSizeSelect(m_DBMng->GetDefWidth(), m_DBMng->GetDefHeight());
  m_Form.cbColor.Select(m_DBMng->GetDefColorDepth());
  const TDPP& dpp = m_TCSMng->GetDPP();
  TCheckBox* redir[6] = {&m_Form.cbDrv,        &m_Form.cbPrt,       &m_Form.cbPorts,
                         &m_Form.cbSmartCards, &m_Form.cbClipboard, &m_Form.cbPOS};
  for (int flag = 1; flag <= 6; ++flag) redir[flag - 1]->Checked = dpp.GetFlagBool(flag, false);
  if (m_TCSMng->GetRDPMajVer() < 6) m_Form.cbClipboardClick(m_TCSMng->GetRDPMajVer());
  m_Form.cbBitmapCache.Checked = m_DBMng->GetBitmapCache();
  m_Form.cbDesktopWallpaper.Checked = m_DBMng->GetWallpaper();
  m_Form.cbFullWindowDrag.Checked = m_DBMng->GetFullWindowDrag();
  m_Form.cbMenuAnim.Checked = m_DBMng->GetMenuAnim();
  m_Form.cbThemes.Checked = m_DBMng->GetTheme();
}

}  // namespace vantrel
