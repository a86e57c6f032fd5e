// The ICA settings file that points the ICA client at a tunnel listener: pure builders from the
// launch's values to the file's bytes (8-bit text of the process locale, CR LF line ends), and
// the reading of those values from the store and the flag set. No password is ever written:
// the logon ticket is the credential, and without one the client asks for the password itself.
#pragma once

#include <string>

namespace vantrel {

class TDBMng;
class TDPP;

// The "[WFClient]" section every settings file starts with.
struct TIcaClientSettings {
  std::string ClientName;  // the store's client-name prefix + the computer name
  // True: no device-permission lines, so the client's own settings apply.
  bool Independently = false;
  bool COMAllowed = false;        // flag 3
  bool CDMAllowed = false;        // flag 1
  bool CPMAllowed = false;        // flag 2
  bool POSDeviceAllowed = false;  // flag 6
  bool ClipboardAllowed = false;  // flag 5
};

// Reads the section's values; logs prmCaller + " : Start to check GetIndependently value..."
// and, when the permission lines will be written, prmCaller + " : GetIndependently value is
// false".
TIcaClientSettings ReadIcaClientSettings(const TDBMng& prmDBMng, const TDPP& prmDPP,
                                         const std::string& prmComputerName,
                                         const std::string& prmCaller);

struct TIcaAppFile {
  TIcaClientSettings Client;
  std::string Name;
  bool Sound = false;
  std::string UserName;
  std::string Domain;   // written only when there is no ticket
  std::string Address;  // loopback address + ":" + the direct listener's port
  std::string TicketType;
  std::string Ticket;
  std::string LaunchReference;
  std::string Enc;
  int Color = 0;  // see IcaColorValue
  std::string Location;
  // The store's size answer, then the application's window settings.
  int Width = -1;
  int Height = -1;
  bool IsDesktop = false;
  int WinType = 3;
  int WinPercent = 0;
};

struct TIcaDesktopFile {
  TIcaClientSettings Client;
  std::string Identifier;
  std::string Address;  // loopback address + ":" + the listener's port
  int Color = 8;        // see IcaColorValue
  std::string TicketType;
  std::string Ticket;
  // Written only when there is no ticket.
  std::string UserName;
  std::string Domain;
};

std::string BuildAppIcaFile(const TIcaAppFile& prmFile);
std::string BuildDesktopIcaFile(const TIcaDesktopFile& prmFile);

// The colour value: prmServerDefault (the application's colour, 8 for desktops) when the store's
// colour-depth code is below 1, else the code mapped 1 -> 2, 2 -> 4, 3 -> 8, any other -> 0.
int IcaColorValue(int prmDefColorDepth, int prmServerDefault);

// Writes the settings file prmName + ".ini" into the private folder (0700) with mode 0600.
// Returns its path; empty (and logged) when it could not be written.
std::string WriteIcaSettingsFile(const std::string& prmName, const std::string& prmBytes);

// This machine's name; empty when it cannot be read.
std::string ComputerName();

}  // namespace vantrel
