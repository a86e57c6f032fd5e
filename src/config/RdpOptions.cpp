#include "config/RdpOptions.h"

#include <iterator>
#include <string>

#include "config/DbMng.h"

namespace vantrel {

namespace {

using O = TRdpOption;
using R = TRdpSettingRule;
using F = TRdpForm;

constexpr TRdpOptionDef Switch(O prmId, const char* prmSetting, bool TDBMng::*prmField,
                               bool prmDefault, const char* prmKey, R prmRule = R::Is1,
                               F prmForm = F::Whole) {
  return {.Id = prmId,
          .Setting = prmSetting,
          .Rule = prmRule,
          .Flag = prmField,
          .Int = nullptr,
          .Derived = nullptr,
          .Default = prmDefault ? 1 : 0,
          .Key = prmKey,
          .Form = prmForm};
}

constexpr TRdpOptionDef Number(O prmId, const char* prmSetting, int TDBMng::*prmField,
                               int prmDefault, const char* prmKey, F prmForm,
                               int (TDBMng::*prmDerived)() const = nullptr) {
  return {.Id = prmId,
          .Setting = prmSetting,
          .Rule = R::Int,
          .Flag = nullptr,
          .Int = prmField,
          .Derived = prmDerived,
          .Default = prmDefault,
          .Key = prmKey,
          .Form = prmForm};
}

}  // namespace

// A friend of the store: its rows name the store's fields.
struct TRdpOptionTable {
  using D = TDBMng;
  static constexpr TRdpOptionDef kRows[] = {
      Switch(O::Wallpaper, "desktopwall", &D::m_DisableWallpaper, true, "disable wallpaper",
             R::Is0),
      Switch(O::FullWindowDrag, "fullwindowdrag", &D::m_DisableFullWindowDrag, true,
             "disable full window drag", R::Is0),
      Switch(O::MenuAnim, "menuanim", &D::m_DisableMenuAnim, true, "disable menu anims", R::Is0),
      Switch(O::Theme, "themes", &D::m_DisableTheme, true, "disable themes", R::Is0),
      Switch(O::HideConnectionBar, "hideconnbar", &D::m_HideConnectionBar, false,
             "displayconnectionbar", R::Is1, F::Inverted),
      Switch(O::MonitorSpan, "span", &D::m_MonitorSpan, false, "span monitors"),
      Number(O::KeyboardHook, "keyboardhook", &D::m_KeyboardHook, 1, "keyboardhook", F::Whole),
      Switch(O::Multimon, "multimon", &D::m_Multimon, false, "use multimon"),
      Switch(O::SmartSizing, "smart_sizing", &D::m_SmartSizing, true, "smart sizing"),
      Switch(O::Enablecredsspsupport, "credential", &D::m_Enablecredsspsupport, true,
             "enablecredsspsupport"),
      Switch(O::Audiocapturemode, "audiocapturemode", &D::m_Audiocapturemode, false,
             "audiocapturemode"),
      Switch(O::Compression, "compression", &D::m_Compression, true, "compression"),
      Switch(O::Videoplaybackmode, "videoplaybackmode", &D::m_Videoplaybackmode, true,
             "videoplaybackmode"),
      Switch(O::AllowFontSmoothing, "allow_font_smoothing", &D::m_AllowFontSmoothing, true,
             "allow font smoothing"),
      Switch(O::AllowDesktopComposition, "allow_desktop_composition", &D::m_AllowDesktopComposition,
             false, "allow desktop composition"),
      Switch(O::DisableCursorSetting, "disable_cursor_setting", &D::m_DisableCursorSetting, false,
             "disable cursor setting"),
      Switch(O::Redirectdirectx, "redirectdirectx", &D::m_Redirectdirectx, true, "redirectdirectx"),
      Switch(O::AutoreconnectionEnabled, "autoreconnection_enabled", &D::m_AutoreconnectionEnabled,
             false, "autoreconnection enabled"),
      Switch(O::PromptForCredentials, "prompt_for_credentials", &D::m_PromptForCredentials, false,
             "prompt for credentials"),
      Switch(O::NegotiateSecurityLayer, "negotiate_security_layer", &D::m_NegotiateSecurityLayer,
             true, "negotiate security layer"),
      Switch(O::Gatewayprofileusagemethod, "gatewayprofileusagemethod",
             &D::m_Gatewayprofileusagemethod, false, "gatewayprofileusagemethod"),
      Switch(O::Promptcredentialonce, "promptcredentialonce", &D::m_Promptcredentialonce, false,
             "promptcredentialonce"),
      Number(O::ConnectionType, "connection_type", &D::m_ConnectionType, 2, "connection type",
             F::LowByte),
      Number(O::Gatewayusagemethod, "gatewayusagemethod", &D::m_Gatewayusagemethod, 4,
             "gatewayusagemethod", F::LowByte),
      Number(O::Gatewaycredentialssource, "gatewaycredentialssource",
             &D::m_Gatewaycredentialssource, 4, "gatewaycredentialssource", F::LowByte),
      Number(O::AutoreconnectMaxRetries, "autoreconnect_max_retries", &D::m_AutoreconnectMaxRetries,
             1, "autoreconnect max retries", F::LowByte),
      Switch(O::UseRedirectionServerName, "use_redirection_server_name",
             &D::m_UseRedirectionServerName, false, "use redirection server name"),
      Switch(O::Networkautodetect, "networkautodetect", &D::m_Networkautodetect, true,
             "networkautodetect"),
      Switch(O::Bandwidthautodetect, "bandwidthautodetect", &D::m_Bandwidthautodetect, true,
             "bandwidthautodetect"),
      Switch(O::Enableworkspacereconnect, "enableworkspacereconnect",
             &D::m_Enableworkspacereconnect, false, "enableworkspacereconnect"),
      Switch(O::Disableremoteappcapscheck, "disableremoteappcapscheck",
             &D::m_Disableremoteappcapscheck, true, "disableremoteappcapscheck"),
      Switch(O::Disableconnectionsharing, "disableconnectionsharing",
             &D::m_Disableconnectionsharing, false, "disableconnectionsharing"),
      // The level a connection may ask for depends on the gateway and its security-RDP setting.
      Number(O::AuthenticationLevel, "authentication_level", &D::m_AuthenticationLevel, 0,
             "authentication level", F::LowByte, &D::GetAuthenticationLevel),
      Number(O::AudioMode, "audiomode", &D::m_AudioMode, 0, "audiomode", F::LowByte),
  };

  static constexpr bool RowsFollowTheOptions() {
    if (std::size(kRows) != kRdpOptionCount) return false;
    for (size_t i = 0; i < kRdpOptionCount; ++i)
      if (static_cast<size_t>(kRows[i].Id) != i) return false;
    return true;
  }
};
static_assert(TRdpOptionTable::RowsFollowTheOptions(), "one row per option, in the options' order");

std::span<const TRdpOptionDef> RdpOptionDefs() {
  return TRdpOptionTable::kRows;
}

const TRdpOptionDef& RdpOptionDef(TRdpOption prmOption) {
  return TRdpOptionTable::kRows[static_cast<size_t>(prmOption)];
}

TRdpOptionValues ReadRdpOptions(const TDBMng& prmStore) {
  TRdpOptionValues values;
  for (const TRdpOptionDef& def : RdpOptionDefs()) {
    int value = def.Derived != nullptr ? (prmStore.*def.Derived)()
                : def.Flag != nullptr  ? (prmStore.*def.Flag ? 1 : 0)
                                       : prmStore.*def.Int;
    values.Set(def.Id, value);
  }
  return values;
}

TRdpEntry RdpOptionEntry(TRdpOption prmOption, const TRdpOptionValues& prmValues) {
  return RdpOptionEntry(prmOption, prmValues.Get(prmOption), RdpOptionDef(prmOption).Form);
}

TRdpEntry RdpOptionEntry(TRdpOption prmOption, int prmValue, TRdpForm prmForm) {
  int value = prmForm == F::LowByte    ? prmValue & 0xFF
              : prmForm == F::Inverted ? 1 - prmValue
                                       : prmValue;
  return {RdpOptionDef(prmOption).Key, 'i', std::to_string(value)};
}

}  // namespace vantrel
