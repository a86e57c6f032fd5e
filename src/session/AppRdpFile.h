// The connection file of a published application. Pure: the launch's values in, the file's bytes
// out; the protected password comes in already protected.
#pragma once

#include <string>

#include "config/RdpOptions.h"

namespace vantrel {

// Application-server types the server agent tells apart.
constexpr int APP_SERVER_FULL_SESSION = 1;  // the application runs as a session's alternate shell
constexpr int APP_SERVER_REMOTE_APP = 2;    // the application runs as a remote application

struct TWinAppParams {
  std::string prmAppName;
  std::string prmLocation;  // program path on the server
  std::string prmWorkDir;   // may be empty
  int prmWidth = 0;         // -1: full screen
  int prmHeight = 0;
  std::string prmServerHost;  // as the availability server named it; names the file
  std::string prmServer;      // the loopback address of the listener
  int prmPort = 0;            // the listener's port
  std::string prmUserName;
  std::string prmPass;
  std::string prmDomain;
  std::string prmPlugins;
  bool prmRedir[6] = {};  // drives, printers, ports, smart cards, clipboard, POS devices
  bool prmDisablePrtScreen = false;
  bool prmValidAppSize = false;  // the store's GetVaildAppSize
  int prmServerType = APP_SERVER_FULL_SESSION;
  TRdpOptionValues Options;  // the store's options of the RDP client (ReadRdpOptions)
};

// The file's bytes: entries in their fixed order, CR LF line ends, 8-bit text of the locale.
// prmPassHex is the protected password (empty: no password entry).
std::string BuildAppRdpFileText(const TWinAppParams& prmParams, const std::string& prmPassHex);

}  // namespace vantrel
