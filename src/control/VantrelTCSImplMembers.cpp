// The dispatch interface: every member with its DISPID and kind. Members only read or write the
// form, the store, a desktop record or the folder tree, or forward to the session manager.
#include "catalogue/Host.h"
#include "control/VantrelTCSImpl.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "session/RdpClientControl.h"

// GCC 12 reports a string alternative of std::variant as maybe-uninitialized when variants are
// moved into a vector here; the alternative is always constructed (a known false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vantrel {

namespace {

int32_t B(bool prmValue) {
  return prmValue ? 1 : 0;
}

// The standard members of the hosting form: accepted and kept, no effect on sessions. Booleans
// are automation Booleans (-1 true).
struct TFormProp {
  const char* Name;
  int32_t DispID;
  TVarType Type;
  bool ReadOnly;
  int32_t Initial;  // texts start empty, except the caption
};

std::vector<TFormProp> FormProps() {
  const auto I = TVarType::I4;
  const auto S = TVarType::BStr;
  return {{"Visible", 201, I, false, -1},
          {"AutoScroll", 202, I, false, 0},
          {"AutoSize", 203, I, false, 0},
          {"AxBorderStyle", 204, I, false, 0},
          {"Caption", -518, S, false, 0},
          {"Color", -501, I, false, 0},
          {"KeyPreview", 205, I, false, 0},
          {"PixelsPerInch", 206, I, false, 96},
          {"PrintScale", 207, I, false, 1},
          {"Scaled", 208, I, false, -1},
          {"Active", 209, I, true, 0},
          {"DropTarget", 210, I, false, 0},
          {"HelpFile", 211, S, false, 0},
          {"PopupMode", 212, I, false, 0},
          {"ScreenSnap", 213, I, false, 0},
          {"SnapBuffer", 214, I, false, 10},
          {"DockSite", 215, I, false, 0},
          {"DoubleBuffered", 216, I, false, 0},
          {"AlignDisabled", 217, I, true, 0},
          {"MouseInClient", 218, I, true, 0},
          {"VisibleDockClientCount", 219, I, true, 0},
          {"ParentDoubleBuffered", 220, I, false, 0},
          {"UseDockManager", 221, I, false, 0},
          {"Enabled", -514, I, false, -1},
          {"ExplicitLeft", 222, I, true, 0},
          {"ExplicitTop", 223, I, true, 0},
          {"ExplicitWidth", 224, I, true, 385},
          {"ExplicitHeight", 225, I, true, 378},
          {"AlignWithMargins", 226, I, false, 0},
          {"ParentCustomHint", 227, I, false, -1}};
}

}  // namespace

void TVantrelTCSX::BuildDispatch() {
  BuildFormMembers();
  BuildSettingsMembers();
  BuildDesktopMembers();
  BuildFolderMembers();
}

void TVantrelTCSX::BuildFormMembers() {
  auto slot = [this](int32_t prmID) -> Variant& {
    for (auto& p : m_FormProps)
      if (p.first == prmID) return p.second;
    throw EBaseException::CreateFmt("No form property %d", prmID);
  };
  for (const TFormProp& p : FormProps()) {
    if (p.Type == TVarType::BStr)
      m_FormProps.emplace_back(p.DispID, Variant(p.DispID == -518 ? m_Form.Caption : ""));
    else
      m_FormProps.emplace_back(p.DispID, Variant(p.Initial));
    const int32_t id = p.DispID;
    m_Dispatch.Add(
        {p.Name,
         id,
         TDispKind::PropertyGet,
         {},
         0,
         [slot, id](const std::vector<Variant>&, TDispResult& r) { r.Value = slot(id); }});
    if (!p.ReadOnly)
      m_Dispatch.Add(
          {p.Name,
           id,
           TDispKind::PropertyPut,
           {p.Type},
           0,
           [slot, id](const std::vector<Variant>& a, TDispResult&) { slot(id) = a[0]; }});
  }
  // Font: an object, settable by value and by reference.
  m_FormProps.emplace_back(-512, Variant());
  m_Dispatch.Add({"Font",
                  -512,
                  TDispKind::PropertyGet,
                  {},
                  0,
                  [slot](const std::vector<Variant>&, TDispResult& r) { r.Value = slot(-512); }});
  for (TDispKind kind : {TDispKind::PropertyPut, TDispKind::PropertyPutRef})
    m_Dispatch.Add({"Font",
                    -512,
                    kind,
                    {TVarType::Object},
                    0,
                    [slot](const std::vector<Variant>& a, TDispResult&) { slot(-512) = a[0]; }});
}

void TVantrelTCSX::PutRedir(TCheckBox& prmBox, int prmFlag, int32_t prmValue) {
  if (!m_DBMng->GetAllowRedirConfig()) return;
  prmBox.Checked = prmValue == 1;
  // The flag set is the manager's; the control changes it only through this setter.
  const_cast<TDPP&>(m_TCSMng->GetDPP()).SetFlag(prmFlag, prmValue == 1 ? 1 : 0);
}

void TVantrelTCSX::BuildSettingsMembers() {
  const auto I = TVarType::I4;
  const auto S = TVarType::BStr;
  auto& d = m_Dispatch;
  d.Add({"VersionNum",
         1610612791,
         TDispKind::Method,
         {},
         1,
         [](const std::vector<Variant>&, TDispResult& r) { r.Outs[0] = TCSX_VERSION; }});
  d.Add({"RDPClient",
         4319,
         TDispKind::PropertyPut,
         {TVarType::Object},
         0,
         [this](const std::vector<Variant>& a, TDispResult&) { PutRDPClient(a[0].AsObject()); }});
  d.Add(DispGetBStr("Host", 4320, [this] { return m_Form.edHost.Text; }));
  d.Add(DispPutBStr("Host", 4320, [this](const std::string& v) { m_Form.edHost.Text = v; }));
  d.Add(DispGetBStr("RDPVersion", 4317, [this] { return RDPVersion(); }));
  d.Add(DispMethod("StartSession", 4318, {S, I}, [this](const std::vector<Variant>& a) {
    Connect(a[0].AsBStr(), a[1].AsI4() == 1, m_Form.cbSpan.Checked);
  }));
  auto sizeBox = [this](int32_t prmID, const char* prmName, TEdit& prmEdit) {
    m_Dispatch.Add(DispGetI4(prmName, prmID, [&prmEdit] {
      int v = -1;
      return TryStrToInt(prmEdit.Text, v) ? v : -1;
    }));
    m_Dispatch.Add(DispPutI4(prmName, prmID, [this, &prmEdit](int32_t v) {
      m_Form.cbSize.Select(v == -1 ? SIZE_FULL_SCREEN : SIZE_CUSTOM);
      prmEdit.Text = std::to_string(v);
    }));
  };
  sizeBox(4321, "ScreenWidth", m_Form.edWidth);
  sizeBox(4322, "ScreenHeight", m_Form.edHeight);
  auto listIndex = [this](int32_t prmID, const char* prmName, TComboBox& prmBox) {
    m_Dispatch.Add(DispGetI4(prmName, prmID, [&prmBox] { return prmBox.ItemIndex; }));
    // Select ignores indices outside the list.
    m_Dispatch.Add(DispPutI4(prmName, prmID, [&prmBox](int32_t v) {
      if (v >= 0) prmBox.Select(v);
    }));
  };
  listIndex(4323, "ColorDepth", m_Form.cbColor);
  listIndex(4324, "SoundRedir", m_Form.cbSound);
  d.Add(DispGetI4("AllowRedirControl", 4325, [this] { return B(m_DBMng->GetAllowRedirConfig()); }));
  auto redir = [this](int32_t prmID, const char* prmName, TCheckBox& prmBox, int prmFlag) {
    m_Dispatch.Add(DispGetI4(prmName, prmID, [&prmBox] { return B(prmBox.Checked); }));
    m_Dispatch.Add(DispPutI4(
        prmName, prmID, [this, &prmBox, prmFlag](int32_t v) { PutRedir(prmBox, prmFlag, v); }));
  };
  redir(4326, "RedirDrives", m_Form.cbDrv, TDPP::FLAG_REDIR_DRIVES);
  redir(4327, "RedirPrinters", m_Form.cbPrt, TDPP::FLAG_REDIR_PRINTERS);
  redir(4328, "RedirClipboard", m_Form.cbClipboard, TDPP::FLAG_REDIR_CLIPBOARD);
  redir(4329, "RedirPorts", m_Form.cbPorts, TDPP::FLAG_REDIR_PORTS);
  redir(4330, "RedirSmartCards", m_Form.cbSmartCards, TDPP::FLAG_REDIR_SMARTCARDS);
  redir(4353, "RedirPOSDev", m_Form.cbPOS, TDPP::FLAG_REDIR_POS);
  auto box = [this](int32_t prmID, const char* prmName, TCheckBox& prmBox) {
    m_Dispatch.Add(DispGetI4(prmName, prmID, [&prmBox] { return B(prmBox.Checked); }));
    m_Dispatch.Add(DispPutI4(prmName, prmID, [&prmBox](int32_t v) { prmBox.Checked = v == 1; }));
  };
  box(4331, "EnableBitmapCaching", m_Form.cbBitmapCache);
  box(4332, "EnableDesktopWallpaper", m_Form.cbDesktopWallpaper);
  box(4333, "EnableFullDrag", m_Form.cbFullWindowDrag);
  box(4334, "EnableMenuAnim", m_Form.cbMenuAnim);
  box(4335, "EnableTheme", m_Form.cbThemes);
  d.Add(
      DispGetI4("ConnectToConsole", 4339, [this] { return B(m_Form.cbConnectToConsole.Checked); }));
  d.Add(DispPutI4("ConnectToConsole", 4339, [this](int32_t v) {
    if (m_DBMng->GetAllowConnectToConsole()) m_Form.cbConnectToConsole.Checked = v == 1;
  }));
  d.Add(DispGetI4("AllowConnectToConsole", 4344,
                  [this] { return B(m_DBMng->GetAllowConnectToConsole()); }));
  d.Add(DispGetI4("AllowNonRegDesktops", 4345, [this] { return B(m_DBMng->AllowCustomDest()); }));
  d.Add(DispMethod("InitTCS", 254, {}, [this](const std::vector<Variant>&) {
    StartDoInit();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }));
  d.Add(DispMethod("StartApp", 4351, {S, S, S, I}, [](const std::vector<Variant>&) {}));
  d.Add(DispMethod("DisableAllowNonRegDesktops", 4352, {},
                   [this](const std::vector<Variant>&) { m_DBMng->SetAllowCustomDest(false); }));
  d.Add(DispGetI4("SpanMonitors", 4354, [this] { return B(m_Form.cbSpan.Checked); }));
  d.Add(DispPutI4("SpanMonitors", 4354, [this](int32_t v) { m_Form.cbSpan.Checked = v != 0; }));
  d.Add(DispGetI4("IsConnected", 4338, [this] { return B(m_TCSMng->GetProtocol() != nullptr); }));
}

void TVantrelTCSX::BuildDesktopMembers() {
  const auto I = TVarType::I4;
  auto& d = m_Dispatch;
  d.Add(DispGetI4("RegDesktopsCount", 4336, [this] { return HostCount(); }));
  d.Add({"GetRegDesktop",
         4337,
         TDispKind::Method,
         {I},
         3,
         [this](const std::vector<Variant>& a, TDispResult& r) {
           THost* h = HostAt(a[0].AsI4());
           r.Outs[0] = h != nullptr ? h->GetDesc() : std::string();
           r.Outs[1] = h != nullptr ? h->GetHost() : std::string();
           r.Outs[2] = h != nullptr ? h->GetDaysLeft() : 0;
         }});
  d.Add(DispMethod("SetCurDesktop", 4340, {I}, [this](const std::vector<Variant>& a) {
    if (HostAt(a[0].AsI4()) != nullptr) m_CurHost = a[0].AsI4();
  }));
  d.Add(DispGetBStr("DesktopDesc", 4341, [this] {
    return CurHost() != nullptr ? CurHost()->GetDesc() : std::string();
  }));
  d.Add(DispGetBStr("DesktopHost", 4342, [this] {
    return CurHost() != nullptr ? CurHost()->GetHost() : std::string();
  }));
  d.Add(DispGetI4("DesktopTTL", 4343,
                  [this] { return CurHost() != nullptr ? CurHost()->GetDaysLeft() : 0; }));
  d.Add(DispGetI4("DesktopState", 4346,
                  [this] { return CurHost() != nullptr ? CurHost()->GetState() : 0; }));
  d.Add(DispMethod("WakeupDesktop", 4347, {}, [this](const std::vector<Variant>&) {
    if (CurHost() != nullptr) CurHost()->PowerupDesktop();
  }));
  d.Add(DispMethod("LaunchDesktop", 4348, {I, I}, [this](const std::vector<Variant>& a) {
    if (HostAt(a[0].AsI4()) == nullptr) return;
    m_CurHost = a[0].AsI4();
    Connect("", a[1].AsI4() == 1, m_DBMng->GetMonitorSpan());
  }));
  // No current desktop: nothing to refresh (the record would be needed for the query).
  d.Add(DispMethod("RefreshDesktopState", 4349, {}, [this](const std::vector<Variant>&) {
    if (CurHost() != nullptr) CurHost()->BeforeConnect();
  }));
  d.Add({"DelCurDesktop",
         236,
         TDispKind::Method,
         {},
         0,
         [this](const std::vector<Variant>&, TDispResult& r) { r.Value = DelCurDesktop(); }});
}

void TVantrelTCSX::BuildFolderMembers() {
  const auto I = TVarType::I4;
  auto& d = m_Dispatch;
  d.Add(DispGetI4("AppsCount", 4355, [this] { return CurAppCount(); }));
  d.Add(DispMethod("SetCurApp", 4356, {I},
                   [this](const std::vector<Variant>& a) { m_CurApp = a[0].AsI4(); }));
  d.Add(DispGetBStr("CurAppName", 4357, [this] {
    return ValidCurApp() ? m_CurFolder->AppName(m_CurApp) : std::string();
  }));
  d.Add(DispGetI4("CurAppID", 4358, [this] { return m_CurApp; }));
  d.Add(DispGetBStr("CurAppIconURL", 4359, [this] {
    return ValidCurApp() ? APP_ICON_URL + m_CurFolder->AppID(m_CurApp) : std::string();
  }));
  d.Add(DispMethod("LaunchApp", 4360, {I}, [](const std::vector<Variant>&) {}));
  d.Add(DispGetBStr("CurFolder", 228, [this] {
    return m_CurFolder != nullptr ? m_CurFolder->GetName() : std::string();
  }));
  auto childCount = [this] { return m_CurFolder != nullptr ? m_CurFolder->ChildCount() : 0; };
  d.Add(DispGetBStr("CurSubFolder", 229, [this, childCount] {
    if (m_CurSubFolder < 0 || m_CurSubFolder >= childCount()) return std::string();
    const IAppFolder* child = m_CurFolder->Child(m_CurSubFolder);
    return child != nullptr ? child->GetName() : std::string();
  }));
  d.Add(DispGetI4("SubFoldersCount", 230, childCount));
  d.Add(DispMethod("SetCurFolder", 231, {I}, [this, childCount](const std::vector<Variant>& a) {
    const int i = a[0].AsI4();
    if (i < 0 || i >= childCount() || m_CurFolder->Child(i) == nullptr) return;
    m_CurFolder = m_CurFolder->Child(i);
    m_CurSubFolder = -1;
  }));
  d.Add(DispMethod("PopCurFolder", 232, {}, [this](const std::vector<Variant>&) {
    if (m_CurFolder == nullptr || m_CurFolder->GetParent() == nullptr) return;
    m_CurFolder = m_CurFolder->GetParent();
    m_CurSubFolder = -1;
  }));
  d.Add(DispMethod("SetCurSubFolder", 233, {I}, [this, childCount](const std::vector<Variant>& a) {
    if (a[0].AsI4() >= 0 && a[0].AsI4() < childCount()) m_CurSubFolder = a[0].AsI4();
  }));
  d.Add(DispGetI4("HasParentFolder", 234, [this] {
    return B(m_CurFolder != nullptr && m_CurFolder->GetParent() != nullptr);
  }));
  d.Add(DispMethod("LaunchCurApp", 235, {}, [this](const std::vector<Variant>&) {
    if (!ValidCurApp()) return;
    m_TCSMng->LaunchApp(m_CurFolder->AppID(m_CurApp), m_DBMng.get(), m_CurApp);
  }));
}

int TVantrelTCSX::CurAppCount() const {
  return m_CurFolder != nullptr ? m_CurFolder->AppCount() : 0;
}

bool TVantrelTCSX::ValidCurApp() const {
  return m_CurApp >= 0 && m_CurApp < CurAppCount();
}

int32_t TVantrelTCSX::DelCurDesktop() {
  THost* host = CurHost();
  if (host == nullptr) return -1;
  if (!m_Dialogs.Confirm("Are you sure you would like to delete this desktop?", m_Form.Caption))
    return -1;
  host->DelDesktop();
  return 0;
}

void TVantrelTCSX::PutRDPClient(const std::shared_ptr<IUnknownObject>& prmObject) {
  auto* client = dynamic_cast<IRdpClientControl*>(prmObject.get());
  if (client == nullptr) throw EBaseException("The object is not an RDP client control");
  m_RdpClientObject = prmObject;
  if (!m_TCSMng->SetRdpClient(*client))
    throw EBaseException("The RDP client control refused its new settings");
}

std::string TVantrelTCSX::RDPVersion() {
  if (m_RdpProbe == nullptr) m_RdpProbe = std::make_unique<TRdpClient>();
  return m_RdpProbe->CanCreate() ? m_RdpProbe->VersionText() : std::string();
}

}  // namespace vantrel
