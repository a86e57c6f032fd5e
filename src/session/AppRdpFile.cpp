#include "session/AppRdpFile.h"

#include <initializer_list>

#include "config/RdpFileFormat.h"
#include "session/RdpFile.h"

namespace vantrel {

std::string BuildAppRdpFileText(const TWinAppParams& prmParams, const std::string& prmPassHex) {
  using O = TRdpOption;
  const TWinAppParams& p = prmParams;
  // Print-screen protection runs the application full screen.
  const int width = p.prmDisablePrtScreen ? -1 : p.prmWidth;
  const int height = p.prmDisablePrtScreen ? -1 : p.prmHeight;
  TRdpFileWriter w;
  // The application file writes every option's integer whole.
  auto write = [&](std::initializer_list<O> prmOptions) {
    for (O option : prmOptions)
      w.Add(RdpOptionEntry(option, p.Options.Get(option), TRdpForm::Whole));
  };
  if (p.prmServerType == APP_SERVER_FULL_SESSION || p.prmValidAppSize) {
    const bool fullScreen = width == -1 || height == -1;
    w.Int("screen mode id", fullScreen ? 2 : 1);
    if (!fullScreen) {
      w.Int("desktopwidth", width);
      w.Int("desktopheight", height);
    }
  }
  w.Int("remoteapplicationmode", p.prmServerType == APP_SERVER_REMOTE_APP ? 1 : 0);
  w.Int("prompt for credentials", 0);
  w.Text("remoteapplicationprogram", p.prmLocation);
  w.Text("remoteapplicationname", p.prmAppName);
  w.Text("alternate shell", p.prmLocation);
  w.Text("remoteapplicationexpandworkingdir", p.prmWorkDir);
  WriteDestinationAndCredentials(w, p, prmPassHex);
  w.Int("session bpp", 24);
  const char* redirKeys[6] = {"redirectdrives",     "redirectprinters",  "redirectcomports",
                              "redirectsmartcards", "redirectclipboard", "redirectposdevices"};
  for (int i = 0; i < 6; ++i) w.Int(redirKeys[i], p.prmRedir[i] ? 1 : 0);
  w.Add(RdpOptionEntry(O::AudioMode, p.Options));  // its low byte, as the table writes it
  write({O::Wallpaper, O::FullWindowDrag, O::MenuAnim, O::Theme});
  w.Int("bitmapcachepersistenable", 0);
  w.Int("keyboardhook", 2);
  w.Int("connect to console", 0);
  write({O::SmartSizing, O::Audiocapturemode, O::Compression, O::Videoplaybackmode,
         O::DisableCursorSetting, O::AllowFontSmoothing, O::AllowDesktopComposition,
         O::Redirectdirectx, O::AutoreconnectionEnabled, O::NegotiateSecurityLayer});
  w.Text("remoteapplicationcmdline", "");
  w.Text("shell working directory", "");
  w.Text("gatewayhostname", "");
  write({O::Gatewayprofileusagemethod, O::Promptcredentialonce, O::UseRedirectionServerName,
         O::Networkautodetect, O::Bandwidthautodetect, O::Enableworkspacereconnect,
         O::Enablecredsspsupport, O::Multimon, O::MonitorSpan, O::ConnectionType,
         O::Gatewayusagemethod, O::Gatewaycredentialssource, O::AutoreconnectMaxRetries,
         O::Disableremoteappcapscheck, O::Disableconnectionsharing, O::AuthenticationLevel});
  if (!p.prmWorkDir.empty()) w.Add({"remoteapplicationexpandworkingdir", 'i', p.prmWorkDir});
  return w.Take();
}

}  // namespace vantrel
