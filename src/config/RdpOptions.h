// The RDP client options the portal configures and the connection files hand on. One row per
// option ties together the element of the "Settings" reply that sets it, the store field that
// keeps it with its initial value, and the connection-file entry that carries it to the client.
// A new option is a row here, its field in TDBMng, and its place in each file's entry order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "config/RdpFileFormat.h"

namespace vantrel {

class TDBMng;

// In the order the "Settings" element is read (TDBMng::LoadXML reads them in runs between the
// store's other settings); a new option goes at the end.
enum class TRdpOption : uint8_t {
  Wallpaper,
  FullWindowDrag,
  MenuAnim,
  Theme,
  HideConnectionBar,
  MonitorSpan,
  KeyboardHook,
  Multimon,
  SmartSizing,
  Enablecredsspsupport,
  Audiocapturemode,
  Compression,
  Videoplaybackmode,
  AllowFontSmoothing,
  AllowDesktopComposition,
  DisableCursorSetting,
  Redirectdirectx,
  AutoreconnectionEnabled,
  PromptForCredentials,
  NegotiateSecurityLayer,
  Gatewayprofileusagemethod,
  Promptcredentialonce,
  ConnectionType,
  Gatewayusagemethod,
  Gatewaycredentialssource,
  AutoreconnectMaxRetries,
  UseRedirectionServerName,
  Networkautodetect,
  Bandwidthautodetect,
  Enableworkspacereconnect,
  Disableremoteappcapscheck,
  Disableconnectionsharing,
  AuthenticationLevel,
  AudioMode,
};
inline constexpr size_t kRdpOptionCount = static_cast<size_t>(TRdpOption::AudioMode) + 1;
inline constexpr TRdpOption kLastRdpOption = TRdpOption::AudioMode;

// How the element's text sets the field.
enum class TRdpSettingRule : uint8_t {
  Is1,  // a switch, on for the text "1" exactly; a missing element leaves it
  Is0,  // a switch, on for the text "0" exactly; a missing element leaves it
  Int,  // a signed decimal, anything else stops the load; a missing element restores Default
};

// How a value is written into a connection file entry.
enum class TRdpForm : uint8_t {
  Whole,
  LowByte,   // its lowest 8 bits, 0 to 255
  Inverted,  // 1 - value: a "hide" switch written as its "display" entry
};

struct TRdpOptionDef {
  TRdpOption Id;
  const char* Setting;  // child element of "Settings"
  TRdpSettingRule Rule;
  bool TDBMng::*Flag;  // the store field: a switch ...
  int TDBMng::*Int;    // ... or an integer
  // The store's answer when a connection must not use the field as it is; else null.
  int (TDBMng::*Derived)() const;
  int Default;      // the field's initial value
  const char* Key;  // connection-file entry name
  TRdpForm Form;    // as the desktop's connection file writes it
};

// Every option's row, in the options' order.
std::span<const TRdpOptionDef> RdpOptionDefs();
const TRdpOptionDef& RdpOptionDef(TRdpOption prmOption);

// The options' values as one launch hands them to its connection file; all 0 until set.
class TRdpOptionValues {
 public:
  int Get(TRdpOption prmOption) const { return m_Values[static_cast<size_t>(prmOption)]; }
  void Set(TRdpOption prmOption, int prmValue) {
    m_Values[static_cast<size_t>(prmOption)] = prmValue;
  }

 private:
  std::array<int, kRdpOptionCount> m_Values{};
};

// What the store holds for a connection now (derived answers included).
TRdpOptionValues ReadRdpOptions(const TDBMng& prmStore);

// The option's entry for prmValue: in the form the table gives, or in prmForm (the application
// connection file writes its integers whole).
TRdpEntry RdpOptionEntry(TRdpOption prmOption, const TRdpOptionValues& prmValues);
TRdpEntry RdpOptionEntry(TRdpOption prmOption, int prmValue, TRdpForm prmForm);

}  // namespace vantrel
