#include "session/RdpFile.h"

#include <cstdint>
#include <initializer_list>

#include "diag/TextCodecs.h"
#include "platform/DataProtection.h"

namespace vantrel {

namespace {

constexpr const char* kPasswordDescription = "psw";

}  // namespace

std::string BuildRdpFileText(const TWinDesktopParams& prmParams, const std::string& prmPassHex) {
  using O = TRdpOption;
  const TWinDesktopParams& p = prmParams;
  TRdpOptionValues options = p.Options;
  int width = p.prmWidth, height = p.prmHeight;
  if (p.prmDisablePrtScreen) {
    // Print-screen protection: full screen without a connection bar.
    width = height = -1;
    options.Set(O::HideConnectionBar, 1);
  }
  TRdpFileWriter w;
  auto write = [&](std::initializer_list<O> prmOptions) {
    for (O option : prmOptions) w.Add(RdpOptionEntry(option, options));
  };
  w.Int("screen mode id", height == -1 ? 2 : 1);
  if (height != -1) {
    w.Int("desktopwidth", width);
    w.Int("desktopheight", height);
  }
  WriteDestinationAndCredentials(w, p, prmPassHex);
  if (p.prmColorDepth != 0) w.Int("session bpp", p.prmColorDepth);
  write({O::HideConnectionBar,
         O::MonitorSpan,
         O::Multimon,
         O::SmartSizing,
         O::Enablecredsspsupport,
         O::Audiocapturemode,
         O::Compression,
         O::Videoplaybackmode,
         O::AllowFontSmoothing,
         O::AllowDesktopComposition,
         O::DisableCursorSetting,
         O::Redirectdirectx,
         O::AutoreconnectionEnabled,
         O::PromptForCredentials,
         O::NegotiateSecurityLayer,
         O::Gatewayprofileusagemethod,
         O::Promptcredentialonce,
         O::ConnectionType,
         O::Gatewayusagemethod,
         O::Gatewaycredentialssource,
         O::AutoreconnectMaxRetries,
         O::UseRedirectionServerName,
         O::Networkautodetect,
         O::Bandwidthautodetect,
         O::Enableworkspacereconnect});
  w.Text("alternate shell", "");
  w.Text("shell working directory", "");
  w.Text("gatewayhostname", "");
  w.Int("redirectdrives", p.prmRedirDrives);
  w.Int("redirectprinters", p.prmRedirPrinters);
  w.Int("redirectcomports", p.prmRedirPorts);
  w.Int("redirectsmartcards", p.prmRedirSmartCards);
  w.Int("redirectclipboard", p.prmRedirClipboard);
  w.Int("redirectposdevices", p.prmRedirPOSDevices);
  write({O::AudioMode});
  w.Int("connect to console", p.prmConnectToConsole);
  write({O::Wallpaper, O::FullWindowDrag, O::MenuAnim, O::Theme});
  w.Int("bitmapcachepersistenable", p.prmBitmapCaching);
  if (!p.prmWorkDir.empty()) w.Add({"remoteapplicationexpandworkingdir", 'i', p.prmWorkDir});
  write({O::KeyboardHook, O::AuthenticationLevel});
  w.Int("remoteapplicationmode", 0);
  return w.Take();
}

std::string CryptRDPPassword(const std::string& prmPassword) {
  std::string wide = Utf8ToUtf16LE(prmPassword);
  std::string blob;
  bool ok = ProtectData(wide, kPasswordDescription, blob);
  std::fill(wide.begin(), wide.end(), '\0');
  return ok ? BytesToHex(blob.data(), blob.size()) : std::string();
}

bool UncryptRDPPassword(std::string_view prmHex, std::string& prmPassword) {
  prmPassword.clear();
  if (prmHex.size() % 2 != 0) return false;
  std::string blob(prmHex.size() / 2, '\0');
  for (size_t i = 0; i < blob.size(); ++i) {
    const int hi = HexDigit(prmHex[2 * i]), lo = HexDigit(prmHex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    blob[i] = static_cast<char>((hi << 4) | lo);
  }
  std::string wide;
  if (!UnprotectData(blob, wide)) return false;
  prmPassword = Utf16LEToUtf8(wide);
  std::fill(wide.begin(), wide.end(), '\0');
  return true;
}

}  // namespace vantrel
