// RDP connection files: what a desktop launch writes for the RDP client program, and how that
// program reads it back. Pure: text in, text out; the only outside service is the per-user data
// protection of the password entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Everything a desktop launch hands to the connection file and the client program. Booleans are
// written as 1 or 0. prmHost, prmRemotePort, prmPerfFlags, prmID and prmStartApp are carried for
// the caller's logs only and never reach the file.
struct TWinDesktopParams {
  std::string prmDeskName;  // names the file: folder + desk name + ".rdp"
  std::string prmHost;
  std::string prmServer;  // the loopback address of the listener
  int prmPort = 0;        // the listener's port
  int prmRemotePort = 0;
  std::string prmUserName;
  std::string prmPass;
  std::string prmDomain;
  std::string prmPlugins;
  int prmWidth = 0;
  int prmHeight = 0;
  int prmColorDepth = 0;
  bool prmRedirDrives = false;
  bool prmRedirPrinters = false;
  bool prmRedirPorts = false;
  bool prmRedirSmartCards = false;
  bool prmRedirClipboard = false;
  bool prmRedirPOSDevices = false;
  bool prmDisablePrtScreen = false;
  bool prmBitmapCaching = false;
  int prmPerfFlags = 0;
  int prmID = 0;
  int prmSound = 0;
  bool prmConnectToConsole = false;
  bool prmSpan = false;
  bool prmHideConnectionBar = false;
  bool prmMultimon = false;
  bool prmSmartSizing = false;
  bool prmEnablecredsspsupport = false;
  bool prmAudiocapturemode = false;
  bool prmCompression = false;
  bool prmVideoplaybackmode = false;
  bool prmAllowFontSmoothing = false;
  bool prmAllowDesktopComposition = false;
  bool prmDisableCursorSetting = false;
  bool prmRedirectdirectx = false;
  bool prmAutoreconnectionEnabled = false;
  bool prmPromptForCredentials = false;
  bool prmNegotiateSecurityLayer = false;
  bool prmGatewayprofileusagemethod = false;
  bool prmPromptcredentialonce = false;
  bool prmUseRedirectionServerName = false;
  bool prmNetworkautodetect = false;
  bool prmBandwidthautodetect = false;
  bool prmEnableworkspacereconnect = false;
  std::string prmStartApp;
  std::string prmWorkDir;
  int prmKeyboardHook = 0;
  int prmConnectionType = 0;
  int prmGatewayusagemethod = 0;
  int prmGatewaycredentialssource = 0;
  int prmAutoreconnectMaxRetries = 0;
  int prmAuthenticationLevel = 0;
  // The store's visual switches (written as they are).
  bool Wallpaper = false;
  bool FullWindowDrag = false;
  bool MenuAnim = false;
  bool Theme = false;
};

// The file's bytes: one "name:type:value" entry per line, CR LF line ends, text in the 8-bit code
// set of the process locale. prmPassHex is the protected password in hexadecimal (empty: no
// password entry).
std::string BuildRdpFileText(const TWinDesktopParams& prmParams, const std::string& prmPassHex);

// The password's UTF-16LE bytes protected for this user, as upper-case hexadecimal digit pairs;
// empty when protection failed.
std::string CryptRDPPassword(const std::string& prmPassword);
// The reverse, for the client program: false when the text is not hexadecimal or the blob does
// not unprotect.
bool UncryptRDPPassword(std::string_view prmHex, std::string& prmPassword);

// UTF-8 <-> UTF-16LE bytes. Invalid sequences become U+FFFD.
std::string Utf8ToUtf16LE(std::string_view prmUtf8);
std::string Utf16LEToUtf8(std::string_view prmUtf16);

// One entry of a connection file.
struct TRdpEntry {
  std::string Name;
  char Type = 's';  // 'i', 's' or 'b'
  std::string Value;
};

// Reads a connection file's bytes: UTF-16LE with its byte-order mark, UTF-8 with or without one,
// or the locale's 8-bit text. Lines that are not "name:type:value" with a known type are skipped.
std::vector<TRdpEntry> ParseRdpFile(std::string_view prmBytes);

}  // namespace vantrel
