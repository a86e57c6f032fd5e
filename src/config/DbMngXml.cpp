// The "Settings" element form of the store's input.
#include <algorithm>
#include <vector>

#include "config/DbMng.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

// Keeps an error line short when the server sends a long text where a number belongs; cut at a
// character boundary so the line stays valid UTF-8.
std::string ShortText(const std::string& prmText) {
  constexpr size_t kMax = 64;
  if (prmText.size() <= kMax) return prmText;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(prmText[cut]) & 0xC0) == 0x80) --cut;
  return prmText.substr(0, cut) + "...";
}

int StrictInt(const char* prmName, const std::string& prmText) {
  int v = 0;
  if (!TryStrToInt(prmText, v))
    throw EBaseException::CreateFmt("LoadXML: element \"%s\": '%s' is not a valid integer value",
                                    prmName, ShortText(prmText));
  return v;
}

}  // namespace

// The elements in the order they are read; the order matters because a bad integer stops the
// load where it stands.
struct TDBMngXmlItems {
  enum class TKind { Text, Is1, Is0, Int, IdleKM, ScreenSize, ColorDepth };
  struct TItem {
    const char* Name;
    TKind Kind;
    std::string TDBMng::*Str = nullptr;
    bool TDBMng::*Flag = nullptr;
    int TDBMng::*Int = nullptr;
    bool HasMissing = false;  // a missing element sets Missing instead of leaving the field
    int Missing = 0;
  };

  static TItem Text(const char* prmName, std::string TDBMng::*prmField) {
    return {prmName, TKind::Text, prmField};
  }
  static TItem Is1(const char* prmName, bool TDBMng::*prmField) {
    return {prmName, TKind::Is1, nullptr, prmField};
  }
  static TItem Is0(const char* prmName, bool TDBMng::*prmField) {
    return {prmName, TKind::Is0, nullptr, prmField};
  }
  static TItem Int(const char* prmName, int TDBMng::*prmField) {
    return {prmName, TKind::Int, nullptr, nullptr, prmField};
  }
  static TItem IntOr(const char* prmName, int TDBMng::*prmField, int prmMissing) {
    return {prmName, TKind::Int, nullptr, nullptr, prmField, true, prmMissing};
  }
  static TItem Special(const char* prmName, TKind prmKind) { return {prmName, prmKind}; }

  static const std::vector<TItem>& Items() {
    using D = TDBMng;
    static const std::vector<TItem> items = {
        Text("rdpagent", &D::m_TSAgentURL),
        Text("rdpagentproxy", &D::m_AgentProxy),
        Text("citrixclient", &D::m_XenAppClientURL),
        Text("citrixclientproxy", &D::m_XenAppClientProxy),
        Is1("customdest", &D::m_AllowCustomDest),
        Is1("powermng", &D::m_EnablePowerMng),
        Special("screensize", TKind::ScreenSize),
        Special("colordepth", TKind::ColorDepth),
        Is0("bitmapcache", &D::m_DisableBitmapCache),
        Is0("desktopwall", &D::m_DisableWallpaper),
        Is0("fullwindowdrag", &D::m_DisableFullWindowDrag),
        Is0("menuanim", &D::m_DisableMenuAnim),
        Is0("themes", &D::m_DisableTheme),
        Is1("sso", &D::m_SSO),
        Text("domain", &D::m_Domain),
        Int("idlealert", &D::m_IdleAlert),
        IntOr("keepalive", &D::m_KeepAlive, -1),
        IntOr("securityrdp", &D::m_EnableSecurityRDP, 1),
        Int("lifetimealert", &D::m_LifetimeAlert),
        Special("idle_timeout_km_event", TKind::IdleKM),
        Is1("console", &D::m_AllowConnectToConsole),
        Is1("hideconnbar", &D::m_HideConnectionBar),
        Is1("span", &D::m_MonitorSpan),
        Is1("showrdpfile", &D::m_ShowRdpFile),
        IntOr("keyboardhook", &D::m_KeyboardHook, 1),
        Is1("multimon", &D::m_Multimon),
        Is1("smart_sizing", &D::m_SmartSizing),
        Is1("credential", &D::m_Enablecredsspsupport),
        Is1("audiocapturemode", &D::m_Audiocapturemode),
        Is1("compression", &D::m_Compression),
        Is1("videoplaybackmode", &D::m_Videoplaybackmode),
        Is1("allow_font_smoothing", &D::m_AllowFontSmoothing),
        Is1("allow_desktop_composition", &D::m_AllowDesktopComposition),
        Is1("disable_cursor_setting", &D::m_DisableCursorSetting),
        Is1("redirectdirectx", &D::m_Redirectdirectx),
        Is1("autoreconnection_enabled", &D::m_AutoreconnectionEnabled),
        Is1("prompt_for_credentials", &D::m_PromptForCredentials),
        Is1("negotiate_security_layer", &D::m_NegotiateSecurityLayer),
        Is1("gatewayprofileusagemethod", &D::m_Gatewayprofileusagemethod),
        Is1("promptcredentialonce", &D::m_Promptcredentialonce),
        IntOr("connection_type", &D::m_ConnectionType, 2),
        IntOr("gatewayusagemethod", &D::m_Gatewayusagemethod, 4),
        IntOr("gatewaycredentialssource", &D::m_Gatewaycredentialssource, 4),
        IntOr("autoreconnect_max_retries", &D::m_AutoreconnectMaxRetries, 1),
        Is1("use_redirection_server_name", &D::m_UseRedirectionServerName),
        Is1("networkautodetect", &D::m_Networkautodetect),
        Is1("bandwidthautodetect", &D::m_Bandwidthautodetect),
        Is1("enableworkspacereconnect", &D::m_Enableworkspacereconnect),
        Is1("disableremoteappcapscheck", &D::m_Disableremoteappcapscheck),
        Is1("disableconnectionsharing", &D::m_Disableconnectionsharing),
        IntOr("authentication_level", &D::m_AuthenticationLevel, 0),
        IntOr("audiomode", &D::m_AudioMode, 0),
        Is1("validappsize", &D::m_ValidAppSize),
        Is1("citrix_independently", &D::m_Independently),
        Is1("vdiauth", &D::m_ExtraAuth),
    };
    return items;
  }

  // "<width>X<height>": both non-zero gives the custom size, either zero gives full screen, no
  // "X" or a part that is not an integer changes nothing. Only 255 characters after the "X" count.
  static void ScreenSize(TDBMng& prmDB, const std::string& prmText) {
    size_t x = prmText.find('X');
    int width = 0, height = 0;
    if (x == std::string::npos || !TryStrToInt(std::string_view(prmText).substr(0, x), width) ||
        !TryStrToInt(std::string_view(prmText).substr(x + 1, 255), height))
      return;
    const bool full = width == 0 || height == 0;
    prmDB.m_DefSize = full ? 0 : 4;
    prmDB.m_DefWidth = full ? 0 : width;
    prmDB.m_DefHeight = full ? 0 : height;
  }

  static void ColorDepth(TDBMng& prmDB, const std::string& prmText) {
    int bits = 0;
    if (!TryStrToInt(prmText, bits)) return;
    prmDB.m_DefColorDepth = bits == 8 ? 1 : bits == 16 ? 2 : bits == 24 ? 3 : bits == 32 ? 4 : 0;
  }

  static void Apply(TDBMng& prmDB, const TItem& prmItem, const TXmlNode& prmCfg) {
    TXmlNode node = prmCfg.FindFirst(prmItem.Name);
    if (!node) {
      if (prmItem.HasMissing) prmDB.*prmItem.Int = prmItem.Missing;
      return;
    }
    const std::string text = node.Text();
    switch (prmItem.Kind) {
      case TKind::Text:
        prmDB.*prmItem.Str = text;
        break;
      case TKind::Is1:
        prmDB.*prmItem.Flag = text == "1";
        break;
      case TKind::Is0:
        prmDB.*prmItem.Flag = text == "0";
        break;
      case TKind::Int:
        prmDB.*prmItem.Int = StrictInt(prmItem.Name, text);
        break;
      case TKind::IdleKM:
        prmDB.m_IdleTimeout_km = std::clamp(StrictInt(prmItem.Name, text), 30, 86400);
        break;
      case TKind::ScreenSize:
        ScreenSize(prmDB, text);
        break;
      case TKind::ColorDepth:
        ColorDepth(prmDB, text);
        break;
    }
  }
};

std::vector<std::string_view> TDBMng::XmlSettingNames() {
  std::vector<std::string_view> names;
  for (const TDBMngXmlItems::TItem& item : TDBMngXmlItems::Items()) names.push_back(item.Name);
  return names;
}

void TDBMng::LoadXML(const TXmlNode& prmCfg) {
  for (const TDBMngXmlItems::TItem& item : TDBMngXmlItems::Items())
    TDBMngXmlItems::Apply(*this, item, prmCfg);
  SetFlagFinished();
}

}  // namespace vantrel
