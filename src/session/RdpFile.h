// The desktop's RDP connection file and its protected password entry. Pure: text in, text out;
// the only outside service is the per-user data protection of the password.
#pragma once

#include <string>
#include <string_view>

#include "config/RdpFileFormat.h"
#include "config/RdpOptions.h"

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
  bool prmConnectToConsole = false;
  std::string prmStartApp;
  std::string prmWorkDir;
  // The store's options of the RDP client (ReadRdpOptions), written as the options table says.
  TRdpOptionValues Options;
};

// The destination and credential lines every connection file carries, desktop or application:
// the password only when there is one and it could be protected, domain and devices when set.
template <typename TParams>
void WriteDestinationAndCredentials(TRdpFileWriter& prmWriter, const TParams& prmParams,
                                    const std::string& prmPassHex) {
  prmWriter.Text("full address", prmParams.prmServer + ":" + std::to_string(prmParams.prmPort));
  prmWriter.Text(kRdpUserNameKey, prmParams.prmUserName);
  if (!prmParams.prmPass.empty() && !prmPassHex.empty())
    prmWriter.Add({std::string(kRdpPasswordKey), 'b', prmPassHex});
  if (!prmParams.prmDomain.empty()) prmWriter.Text(kRdpDomainKey, prmParams.prmDomain);
  if (!prmParams.prmPlugins.empty()) prmWriter.Text("devicestoredirect", prmParams.prmPlugins);
}

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

}  // namespace vantrel
