#include "control/VantrelTCSImpl.h"

#include "catalogue/Host.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"

namespace vantrel {

TVantrelTCSX::TVantrelTCSX(IDialogs& prmDialogs) : m_Dialogs(prmDialogs) {
  Initialize();
}

TVantrelTCSX::~TVantrelTCSX() {
  FireFormEvent(DISPID_OnDestroy);
  BeforeDestruction();
}

void TVantrelTCSX::Initialize() {
  m_Window = std::make_unique<TWindow>(
      [this](uint32_t m, uintptr_t w, intptr_t l) { return SubClassWndProc(m, w, l); });
  m_DBMng = std::make_unique<TDBMng>();
  m_DestHost.clear();
  m_CustomPortal = false;
  m_HostsShown = false;
  m_CurHost = m_CurApp = m_CurSubFolder = -1;
  m_UI = std::make_unique<TTCSUserInterface>(m_Window.get(), m_DBMng.get());
  m_TCSMng = std::make_unique<TVantrelTCSMng>(*m_UI, m_Window.get(), m_Dialogs);
  m_RootFolder = &m_TCSMng->GetRootFolder();
  // Pictures loop continuously at ten times their own rate.
  for (TAnimatedImage* im : {&m_Form.imProg, &m_Form.imAlert}) {
    im->Animating = true;
    im->AnimationSpeed = 1000;
  }
  BuildDispatch();
}

void TVantrelTCSX::BeforeDestruction() {
  // Senders are released and posts dropped from here on, so neither the start-up thread nor the
  // session's threads can block on a window thread that is waiting for them.
  m_Stopping = true;
  m_Window->Destroy();
  // Every wait of the connect thread ends now (the tunnel's set-up and requests included), which
  // lets ConnectStart return and the start-up thread end.
  m_TCSMng->BeginRelease();
  if (m_InitThd.joinable()) m_InitThd.join();
  m_HostsShown = false;
  m_CurFolder = m_RootFolder = nullptr;
  m_TCSMng.reset();
  m_DBMng.reset();
  m_UI.reset();
}

intptr_t TVantrelTCSX::SubClassWndProc(uint32_t prmMsg, uintptr_t prmWParam, intptr_t prmLParam) {
  bool handled = false;
  if (m_TCSMng != nullptr) m_TCSMng->MsgProc(prmMsg, prmWParam, prmLParam, handled);
  if (handled) return 0;
  RunGuarded("TVantrelTCSX.SubClassWndProc", [&] {
    switch (prmMsg) {
      case WM_TimeoutAlert:
        WMTimeoutAlert(prmWParam, prmLParam);
        break;
      case WM_TCSStateNotify:
        WMTCSStateNotify(prmWParam, prmLParam);
        break;
      case WM_HostStateNotify:
        WMHostStateNotify(prmWParam, prmLParam);
        break;
      case WM_ReportError:
        WMReportError(prmWParam, prmLParam);
        break;
      case WM_Ready:
        WMReady();
        break;
      case WM_FormUpdate:
        RunFormUpdate();
        break;
      default:
        break;
    }
  });
  return 0;
}

void TVantrelTCSX::StartDoInit() {
  if (m_InitThd.joinable()) {
    WriteDebugLog("TVantrelTCSX.StartDoInit - start-up already started, ignored");
    return;
  }
  m_InitThd = std::thread([this] {
    RunGuarded("TVantrelTCSX.DoInit", [this] { DoInit(); });
    m_StartupDone = true;
    m_StartupDoneEvent.Set();
  });
}

int TVantrelTCSX::HostCount() const {
  return m_HostsShown ? static_cast<int>(m_TCSMng->GetHosts().size()) : 0;
}

THost* TVantrelTCSX::HostAt(int prmIndex) const {
  if (prmIndex < 0 || prmIndex >= HostCount()) return nullptr;
  return m_TCSMng->GetHosts()[prmIndex].get();
}

THost* TVantrelTCSX::CurHost() const {
  return HostAt(m_CurHost);
}

void TVantrelTCSX::FireFormEvent(int32_t prmDispID) {
  if (FEvents != nullptr && prmDispID >= DISPID_OnActivate && prmDispID <= DISPID_OnPaint &&
      prmDispID != DISPID_OnKeyPress)
    FEvents->OnFormEvent(prmDispID);
}

void TVantrelTCSX::KeyPress(char16_t& prmKey) {
  if (FEvents != nullptr) FEvents->OnKeyPress(prmKey);
}

void TVantrelTCSX::btConnectClick(bool prmConnectAs) {
  m_CurHost = m_Form.cbHost.ItemIndex;
  if (CurHost() != nullptr && m_DBMng->GetEnablePowerMng()) {
    m_Form.PageControl1.Enabled = false;
    CurHost()->BeforeConnect();
    return;
  }
  Connect("", !prmConnectAs, m_Form.cbSpan.Checked);
}

void TVantrelTCSX::Connect(const std::string& prmDest, bool prmSSO, bool prmSpan) {
  static const int kSizes[4][2] = {{-1, -1}, {640, 480}, {800, 600}, {1024, 768}};
  int width = -1, height = -1;
  const int rdpMajVer = m_TCSMng->GetRDPMajVer();
  if (m_Form.cbSize.ItemIndex == SIZE_CUSTOM) {
    if (!TryStrToInt(m_Form.edWidth.Text, width)) {
      m_UI->ReportError(TCS_ERR_WIDTH_NOT_NUMBER, "");
      return;
    }
    if (rdpMajVer <= 5 && (width < 200 || width > 1600)) {
      m_UI->ReportError(TCS_ERR_WIDTH_RANGE, "");
      return;
    }
    if (!TryStrToInt(m_Form.edHeight.Text, height)) {
      m_UI->ReportError(TCS_ERR_HEIGHT_NOT_NUMBER, "");
      return;
    }
    if (rdpMajVer <= 5 && (height < 200 || height > 1200)) {
      m_UI->ReportError(TCS_ERR_HEIGHT_RANGE, "");
      return;
    }
  } else if (m_Form.cbSize.ItemIndex >= 0 && m_Form.cbSize.ItemIndex < 4) {
    width = kSizes[m_Form.cbSize.ItemIndex][0];
    height = kSizes[m_Form.cbSize.ItemIndex][1];
  }
  static const int kDepths[5] = {0, 8, 16, 24, 32};
  const int colorIdx = m_Form.cbColor.ItemIndex;
  const int depth = (colorIdx >= 0 && colorIdx < 5) ? kDepths[colorIdx] : 0;
  const int perf = (m_Form.cbDesktopWallpaper.Checked ? 1 : 0) +
                   (m_Form.cbFullWindowDrag.Checked ? 2 : 0) + (m_Form.cbMenuAnim.Checked ? 4 : 0) +
                   (m_Form.cbThemes.Checked ? 8 : 0);
  std::string dest;
  int hostIndex = -1;
  if (!prmDest.empty()) {
    dest = prmDest;
  } else if (!m_DBMng->OstraEnabled()) {
    dest = m_Form.edHost.Text;
  } else if (m_CurHost == -1) {
    dest = m_Form.cbHost.Text;
  } else {
    hostIndex = m_CurHost;
  }
  if (!m_Form.cbConnectToConsole.Checked)
    m_Form.cbConnectToConsole.Checked = m_DBMng->GetAllowConnectToConsole();
  m_TCSMng->LaunchDesktop(dest, hostIndex, width, height, depth, m_Form.cbBitmapCache.Checked, perf,
                          m_Form.cbSound.ItemIndex, m_Form.cbConnectToConsole.Checked, prmSpan,
                          prmSSO, "", "", m_DBMng->GetKeyboardHook(), m_DBMng.get());
}

}  // namespace vantrel
