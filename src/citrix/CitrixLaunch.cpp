#include "citrix/CitrixLaunch.h"

#include <unistd.h>

#include <cerrno>
#include <exception>
#include <vector>

#include "catalogue/XenAppFarm.h"
#include "citrix/CGPSendFilter.h"
#include "citrix/CitrixClient.h"
#include "citrix/CitrixService.h"
#include "citrix/IcaFile.h"
#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "platform/Dialogs.h"
#include "platform/ProcessSpawn.h"
#include "tunnel/LocalHost.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

namespace {

constexpr int kDefaultServicePort = 80;
constexpr int kDefaultIcaPort = 1494;
// Clients from this major version on speak CGP.
constexpr int kFirstCGPVersion = 8;
constexpr const char* kTicketType = "CTXS1";
constexpr const char* kNoConnection =
    "Failed to start application, could not open a connection to ";

void ErrorBox(const TCitrixLaunchEnv& prmEnv, const std::string& prmText) {
  prmEnv.Dialogs.MessageBox(prmText, "Error", MB_OK | MB_ICONERROR);
}

// prmText (host[:port]) as a dotted address and port; false when the host does not resolve.
bool ReachableAddress(CAppMng& prmAppMng, const std::string& prmText, int prmDefPort,
                      std::string& prmHost, std::string& prmAddr, int& prmPort) {
  SplitHostPort(prmText, prmDefPort, prmHost, prmPort);
  // An empty address ("0.0.0.0" from the service) names no server; the gateway is not asked.
  return !prmHost.empty() &&
         ResolveDotted(
             prmHost, [&](const std::string& prmName) { return prmAppMng.ResolveHost(prmName); },
             prmAddr);
}

// A direct listener, or the CGP one with its send filter. A listener that cannot be created
// counts as not opened.
bool OpenListener(CAppMng& prmAppMng, const std::string& prmAddr, int prmPort, bool prmCGP,
                  int& prmLocalPort) {
  try {
    // Typed, or the function would pass as the Boolean of the close-after-empty form.
    if (prmCGP)
      return prmAppMng.AddConn(prmAddr, prmPort, 0, prmLocalPort, nullptr, 0, 0,
                               TConnSendCallback(CGPSendFilter), 0, false, false);
    return prmAppMng.AddConn(prmAddr, prmPort, 0, prmLocalPort, nullptr, 0, 0, 0, false, false);
  } catch (const EBaseException& e) {
    WriteDebugLog("Citrix listener to " + prmAddr + ":" + std::to_string(prmPort) + " - " +
                  e.GetMsg());
    return false;
  }
}

// The logon ticket, or empty (logged) when the service gave none.
std::string LogonTicket(const TCitrixLaunchEnv& prmEnv, CAppMng& prmAppMng,
                        const std::string& prmServer, const std::string& prmTag,
                        const std::string& prmUser, const std::string& prmPassword,
                        const std::string& prmDomain) {
  std::string ticket;
  if (prmEnv.Service.GetLogonTicket(&prmAppMng, prmServer, prmUser, prmTag, prmDomain, prmPassword,
                                    ticket) != kCitrixOK) {
    WriteDebugLog("LaunchApp - Failed to get Logon Ticket");
    ticket.clear();
  }
  return ticket;
}

// "<program> <settings file>": the file carries everything, the password never goes on a
// command line (every local user can read those).
void StartIcaClient(const std::string& prmProgram, const std::string& prmFile,
                    const TCitrixLaunchEnv& prmEnv) {
  pid_t pid = 0;
  const int err = prmProgram.empty() ? ENOENT : SpawnProcess({prmProgram, prmFile}, pid);
  if (err == 0) {
    prmEnv.WatchClient(pid);
    return;
  }
  // Only the client would have deleted the file, and it may hold a logon ticket.
  unlink(prmFile.c_str());
  if (err == ENOENT || err == ENOTDIR)
    ErrorBox(prmEnv, "Failed to start local client, please check the path specified");
  else
    ErrorBox(prmEnv, "Failed to create process " + std::to_string(err));
}

void LaunchFullClient(const TXenApp& prmApp, const TDPP& prmDPP, const TDBMng& prmDBMng,
                      int prmLocalPort, int prmLocalCGPPort, const std::string& prmTicket,
                      const std::string& prmUser, const std::string& prmDomain,
                      const TCitrixLaunchEnv& prmEnv) {
  const std::string loopback = GetFixedLocalHostAddr();
  TIcaAppFile file;
  file.Client = ReadIcaClientSettings(prmDBMng, prmDPP, ComputerName(), "LaunchFullClient");
  file.Name = prmApp.GetName();
  file.Sound = prmApp.m_Sound;
  file.UserName = prmUser;
  file.Domain = prmDomain;
  if (prmLocalCGPPort >= 1)
    WriteDebugLog("LaunchFullClient - Using CGP " + loopback + ":" +
                  std::to_string(prmLocalCGPPort));
  file.Address = loopback + ":" + std::to_string(prmLocalPort);
  file.TicketType = kTicketType;
  file.Ticket = prmTicket;
  file.Enc = prmApp.m_Enc;
  file.Color = IcaColorValue(prmDBMng.GetDefColorDepth(), prmApp.m_ColorDepth);
  file.Location = prmApp.GetLocation();
  prmDBMng.XenAppGetSize(file.Width, file.Height);
  file.IsDesktop = prmApp.m_IsDesktop;
  file.WinType = prmApp.m_WinType;
  file.WinPercent = prmApp.m_WinPercent;
  const std::string path = WriteIcaSettingsFile(prmApp.GetSeqNo(), BuildAppIcaFile(file));
  if (path.empty()) return;
  const std::string program = CitrixClientProgram();
  WriteDebugLog("LaunchFullClient app: " + program);
  WriteDebugLog("LaunchFullClient cmd:" + program + " " + path);
  StartIcaClient(program, path, prmEnv);
}

void LaunchDesktop(const std::string& prmDesktopID, const TDPP& prmDPP, const TDBMng& prmDBMng,
                   int prmLocalPort, const std::string& prmTicket, const std::string& prmUser,
                   const std::string& prmDomain, const TCitrixLaunchEnv& prmEnv) {
  TIcaDesktopFile file;
  file.Client = ReadIcaClientSettings(prmDBMng, prmDPP, ComputerName(), "LaunchDesktop");
  file.Identifier = prmDesktopID;
  file.Address = GetFixedLocalHostAddr() + ":" + std::to_string(prmLocalPort);
  file.Color = IcaColorValue(prmDBMng.GetDefColorDepth(), 8);
  file.TicketType = kTicketType;
  file.Ticket = prmTicket;
  file.UserName = prmUser;
  file.Domain = prmDomain;
  const std::string path = WriteIcaSettingsFile(prmDesktopID, BuildDesktopIcaFile(file));
  if (!path.empty()) StartIcaClient(CitrixClientProgram(), path, prmEnv);
}

// The address request to each farm server in turn; false (after the error box for the last
// server's answer) when none gave one.
bool FindAppServer(TXenApp& prmApp, CAppMng& prmAppMng, const std::string& prmUser,
                   const std::string& prmPassword, const std::string& prmDomain,
                   const TCitrixLaunchEnv& prmEnv, std::string& prmServer,
                   std::string& prmServerAddress, std::string& prmCGPAddress,
                   std::string& prmTicketTag) {
  const TXenAppFarm* farm = prmApp.GetFarm();
  const std::vector<std::string> servers = farm ? farm->GetServers() : std::vector<std::string>();
  for (size_t i = 0; i < servers.size(); ++i) {
    WriteDebugLog("LaunchApp - Looking for server at " + servers[i]);
    std::string tag1, tag2;
    const int code = prmEnv.Service.GetAppAddress(&prmAppMng, servers[i], prmApp.GetLocation(),
                                                  prmDomain, prmPassword, prmUser, prmServerAddress,
                                                  prmCGPAddress, tag1, tag2);
    if (code == kCitrixOK) {
      WriteDebugLog("LaunchApp - Server found " + prmServerAddress + ", " + prmCGPAddress);
      prmServer = servers[i];
      prmTicketTag = tag1 + ":" + tag2;
      return true;
    }
    if (i + 1 == servers.size()) ErrorBox(prmEnv, NoServerText(code));
  }
  if (servers.empty()) WriteDebugLog("LaunchApp - the farm names no server");
  return false;
}

void DoLaunchApp(TXenApp& prmApp, CAppMng& prmAppMng, const TDPP& prmDPP, const TDBMng& prmDBMng,
                 const std::string& prmUser, const std::string& prmPassword,
                 const std::string& prmDomain, const TCitrixLaunchEnv& prmEnv) {
  WriteDebugLog("Launching " + prmApp.GetName());
  std::string server, serverAddress, cgpAddress, tag;
  if (!FindAppServer(prmApp, prmAppMng, prmUser, prmPassword, prmDomain, prmEnv, server,
                     serverAddress, cgpAddress, tag))
    return;
  const std::string ticket =
      LogonTicket(prmEnv, prmAppMng, server, tag, prmUser, prmPassword, prmDomain);
  std::string icaHost, icaAddr;
  int icaPort = 0;
  if (!ReachableAddress(prmAppMng, serverAddress, kDefaultServicePort, icaHost, icaAddr, icaPort))
    return;
  int localCGPPort = 0;
  const int icaMajVersion = GetICAMajVersion();
  if (!cgpAddress.empty() && icaMajVersion >= kFirstCGPVersion) {
    WriteDebugLog("LaunchApp - Using CGP");
    std::string cgpHost, cgpAddr;
    int cgpPort = 0;
    SplitHostPort(cgpAddress, kDefaultServicePort, cgpHost, cgpPort);
    WriteDebugLog("LaunchApp -CGP server is " + cgpHost + ":" + std::to_string(cgpPort));
    if (cgpHost == "*")
      cgpAddr = icaAddr;
    else if (!ReachableAddress(prmAppMng, cgpAddress, kDefaultServicePort, cgpHost, cgpAddr,
                               cgpPort))
      return;
    WriteDebugLog("LaunchApp - Opening connection through CGP");
    if (!OpenListener(prmAppMng, cgpAddr, cgpPort, true, localCGPPort)) {
      ErrorBox(prmEnv, std::string(kNoConnection) + "server " + cgpAddress);
      return;
    }
    WriteDebugLog("LaunchApp - Connection is open local CGP port is " +
                  std::to_string(localCGPPort));
  } else {
    WriteDebugLog("LaunchApp - Using direct ICA");
  }
  int localPort = 0;
  if (!OpenListener(prmAppMng, icaAddr, icaPort, false, localPort)) {
    ErrorBox(prmEnv, std::string(kNoConnection) + "server " + serverAddress);
    return;
  }
  WriteDebugLog("LaunchApp - Connection is open local port is " + std::to_string(localPort));
  prmAppMng.SendLogMsg(6, "VantrelTCS", 0, "",
                       "Starting " + prmApp.GetName() + " on " + serverAddress);
  LaunchFullClient(prmApp, prmDPP, prmDBMng, localPort, localCGPPort, ticket, prmUser, prmDomain,
                   prmEnv);
}

void DoLaunchXenDesktop(const std::string& prmDesktopID, const std::string& prmController,
                        CAppMng& prmAppMng, const TDBMng& prmDBMng, const TDPP& prmDPP,
                        const std::string& prmUser, const std::string& prmPassword,
                        const std::string& prmDomain, const TCitrixLaunchEnv& prmEnv) {
  TDesktopAddress reply;
  if (prmEnv.Service.RequestDesktopAddress(&prmAppMng, prmController, prmDesktopID, prmUser,
                                           prmPassword, prmDomain, reply) != kCitrixOK)
    return;
  std::string ticket;
  if (reply.TicketTag)
    ticket = LogonTicket(prmEnv, prmAppMng, prmController, *reply.TicketTag, prmUser, prmPassword,
                         prmDomain);
  if (reply.ServerAddress) {
    std::string host, addr;
    int port = 0, localPort = 0;
    if (!ReachableAddress(prmAppMng, *reply.ServerAddress, kDefaultIcaPort, host, addr, port))
      return;
    if (!OpenListener(prmAppMng, addr, port, false, localPort)) {
      ErrorBox(prmEnv, kNoConnection + prmDesktopID);
      return;
    }
    LaunchDesktop(prmDesktopID, prmDPP, prmDBMng, localPort, ticket, prmUser, prmDomain, prmEnv);
    WriteDebugLog("LaunchDesktop success");
  }
  WriteDebugLog("LaunchDesktop finished");
}

// A failure inside a launch ends it quietly; it must never reach the window thread's caller.
template <typename TBody>
void Guarded(const char* prmName, TBody&& prmBody) {
  try {
    prmBody();
  } catch (const EBaseException& e) {
    WriteDebugLog(std::string(prmName) + " - " + e.GetMsg());
  } catch (const std::exception& e) {
    WriteDebugLog(std::string(prmName) + " - " + e.what());
  }
}

}  // namespace

std::string NoServerText(int prmCode) {
  const char* reason = CitrixFailureReason(static_cast<TCitrixResult>(prmCode));
  return std::string("No server was found to run the application\n\r") +
         (reason != nullptr ? reason : "Unknown error");
}

void LaunchApp(TXenApp& prmApp, CAppMng& prmAppMng, const TDPP& prmDPP, const TDBMng& prmDBMng,
               const std::string& prmUser, const std::string& prmPassword,
               const std::string& prmDomain, const TCitrixLaunchEnv& prmEnv) {
  Guarded("LaunchApp", [&] {
    DoLaunchApp(prmApp, prmAppMng, prmDPP, prmDBMng, prmUser, prmPassword, prmDomain, prmEnv);
  });
}

void LaunchXenDesktop(const std::string& prmDesktopID, const std::string& prmDescription,
                      const std::string& prmController, CAppMng& prmAppMng, const TDBMng& prmDBMng,
                      const TDPP& prmDPP, const std::string& prmUser,
                      const std::string& prmPassword, const std::string& prmDomain,
                      const TCitrixLaunchEnv& prmEnv) {
  WriteDebugLog("LaunchXenDesktop " + prmDesktopID + " (" + prmDescription + ")");
  Guarded("LaunchXenDesktop", [&] {
    DoLaunchXenDesktop(prmDesktopID, prmController, prmAppMng, prmDBMng, prmDPP, prmUser,
                       prmPassword, prmDomain, prmEnv);
  });
}

}  // namespace vantrel
