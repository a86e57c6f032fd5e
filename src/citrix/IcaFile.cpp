#include "citrix/IcaFile.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "catalogue/DPP.h"
#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/PrivateFiles.h"

namespace vantrel {

namespace {

// Collects "line CR LF" and hands the whole text over in the 8-bit code set.
class TIcaLines {
 public:
  void Add(const std::string& prmLine) { m_Text += prmLine + "\r\n"; }
  void Switch(const std::string& prmName, bool prmOn) { Add(prmName + (prmOn ? "=on" : "=off")); }
  std::string Take() const { return ToAnsi(m_Text); }

 private:
  std::string m_Text;
};

void AddClientSection(TIcaLines& prmLines, const TIcaClientSettings& prmClient) {
  prmLines.Add("[WFClient]");
  prmLines.Add("ClientName=" + prmClient.ClientName);
  prmLines.Add("RemoveICAFile=yes");
  if (!prmClient.Independently) {
    prmLines.Switch("COMAllowed", prmClient.COMAllowed);
    prmLines.Switch("CDMAllowed", prmClient.CDMAllowed);
    prmLines.Switch("CPMAllowed", prmClient.CPMAllowed);
    prmLines.Switch("POSDeviceAllowed", prmClient.POSDeviceAllowed);
    prmLines.Add(std::string("ClipboardAllowed=") + (prmClient.ClipboardAllowed ? "1" : "0"));
  }
  prmLines.Add("VSLAllowed=on");
  prmLines.Add("[ApplicationServers]");
}

void AddTicket(TIcaLines& prmLines, const std::string& prmType, const std::string& prmTicket) {
  prmLines.Add("LogonTicketType=" + prmType);
  prmLines.Add("LogonTicket=" + prmTicket);
}

void AddWindow(TIcaLines& prmLines, const TIcaAppFile& prmFile) {
  if (prmFile.Width != -1) {
    prmLines.Add("DesiredWinType=5");
    prmLines.Add("DesiredHRES=" + std::to_string(prmFile.Width));
    prmLines.Add("DesiredVRES=" + std::to_string(prmFile.Height));
  } else if (prmFile.Height != -1) {
    prmLines.Add("DesiredWinType=6");
    prmLines.Add("ScreenPercent=" + std::to_string(prmFile.Height));
  } else if (prmFile.IsDesktop || prmFile.WinType == 1) {
    prmLines.Add("DesiredWinType=6");
    prmLines.Add("ScreenPercent=100");
  } else if (prmFile.WinType == 2) {
    prmLines.Add("DesiredWinType=6");
    prmLines.Add("ScreenPercent=" + std::to_string(prmFile.WinPercent));
  } else {
    prmLines.Add("DesiredWinType=8");
    prmLines.Add("TWIMode=On");
    prmLines.Add("DesiredHRES=4294967295");
    prmLines.Add("DesiredVRES=4294967295");
  }
}

}  // namespace

TIcaClientSettings ReadIcaClientSettings(const TDBMng& prmDBMng, const TDPP& prmDPP,
                                         const std::string& prmComputerName,
                                         const std::string& prmCaller) {
  TIcaClientSettings client;
  client.ClientName = prmDBMng.XenAppGetClientNamePrefix() + prmComputerName;
  WriteDebugLog(prmCaller + " : Start to check GetIndependently value...............");
  client.Independently = prmDBMng.GetIndependently();
  if (!client.Independently) {
    WriteDebugLog(prmCaller + " : GetIndependently value is false");
    client.COMAllowed = prmDPP.GetFlagBool(TDPP::FLAG_REDIR_PORTS, false);
    client.CDMAllowed = prmDPP.GetFlagBool(TDPP::FLAG_REDIR_DRIVES, false);
    client.CPMAllowed = prmDPP.GetFlagBool(TDPP::FLAG_REDIR_PRINTERS, false);
    client.POSDeviceAllowed = prmDPP.GetFlagBool(TDPP::FLAG_REDIR_POS, false);
    client.ClipboardAllowed = prmDPP.GetFlagBool(TDPP::FLAG_REDIR_CLIPBOARD, false);
  }
  return client;
}

std::string BuildAppIcaFile(const TIcaAppFile& prmFile) {
  TIcaLines lines;
  AddClientSection(lines, prmFile.Client);
  lines.Add(prmFile.Name + "=");
  lines.Add("[" + prmFile.Name + "]");
  lines.Add(std::string("ClientAudio=") + (prmFile.Sound ? "On" : "Off"));
  lines.Add("TransportDriver=TCP/IP");
  lines.Add("WinStationDriver=ICA 3.0");
  lines.Add("Launcher=WI");
  lines.Add("Username=" + prmFile.UserName);
  // Without a ticket the client asks for the password; the domain saves the user typing it.
  if (prmFile.Ticket.empty() && !prmFile.Domain.empty()) lines.Add("Domain=" + prmFile.Domain);
  lines.Add("Address=" + prmFile.Address);
  if (!prmFile.Ticket.empty()) AddTicket(lines, prmFile.TicketType, prmFile.Ticket);
  if (!prmFile.LaunchReference.empty()) lines.Add("LaunchReference=" + prmFile.LaunchReference);
  if (!prmFile.Enc.empty()) lines.Add("EncryptionLevelSession=" + prmFile.Enc);
  lines.Add("DesiredColor=" + std::to_string(prmFile.Color));
  if (!prmFile.Location.empty()) lines.Add("InitialProgram=#" + prmFile.Location);
  AddWindow(lines, prmFile);
  return lines.Take();
}

std::string BuildDesktopIcaFile(const TIcaDesktopFile& prmFile) {
  TIcaLines lines;
  AddClientSection(lines, prmFile.Client);
  lines.Add(prmFile.Identifier + "=");
  lines.Add("[" + prmFile.Identifier + "]");
  lines.Add("Address=" + prmFile.Address);
  lines.Add("TransportDriver=TCP/IP");
  lines.Add("WinStationDriver=ICA 3.0");
  lines.Add("Launcher=WI");
  lines.Add("AutologonAllowed=ON");
  lines.Add("ConnectionBar=1");
  lines.Add("BrowserProtocol=HTTPonTCP");
  lines.Add("InitialProgram=#" + prmFile.Identifier);
  lines.Add("DesiredColor=" + std::to_string(prmFile.Color));
  lines.Add("TWIMode=Off");
  lines.Add("DesiredHRES=4294967295");
  lines.Add("DesiredVRES=4294967295");
  if (!prmFile.Ticket.empty()) {
    AddTicket(lines, prmFile.TicketType, prmFile.Ticket);
  } else {
    // Without a ticket the client asks for the password; name and domain are filled in.
    lines.Add("Username=" + prmFile.UserName);
    if (!prmFile.Domain.empty()) lines.Add("Domain=" + prmFile.Domain);
  }
  lines.Add("EncryptionLevelSession=EncRC5-128");
  lines.Add("Title=My PC");
  return lines.Take();
}

int IcaColorValue(int prmDefColorDepth, int prmServerDefault) {
  if (prmDefColorDepth < 1) return prmServerDefault;
  switch (prmDefColorDepth) {
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 8;
    default:
      return 0;
  }
}

std::string WriteIcaSettingsFile(const std::string& prmName, const std::string& prmBytes) {
  const std::string folder = PrivateTempFolder();
  const std::string path = PrivateFilePath(folder, prmName, ".ini");
  if (!EnsurePrivateFolder(folder) || !WritePrivateFile(path, prmBytes)) {
    WriteDebugLog("WriteIcaSettingsFile - cannot write " + path + ": " + std::strerror(errno));
    return std::string();
  }
  return path;
}

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace vantrel
