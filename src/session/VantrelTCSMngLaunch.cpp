// Desktop launches: a typed or listed desktop reached through a loopback listener of the tunnel,
// with the RDP client program started on a connection file, and the re-targeting of an RDP
// client control the page hosts itself.
#include <arpa/inet.h>

#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "platform/ProcessSpawn.h"
#include "platform/RdpClient.h"
#include "session/VantrelTCSMng.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

namespace {

constexpr uint32_t RESOLVE_NOT_YET = 0xFFFFFFFF;
constexpr int RESOLVE_RETRY_MS = 200;
constexpr int RESOLVE_RETRIES = 151;
constexpr int CONFIG_POLL_MS = 200;
constexpr int CONFIG_POLLS = 150;

std::string DottedAddress(uint32_t prmNetworkOrder) {
  in_addr a{};
  a.s_addr = prmNetworkOrder;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof(text));
  return text;
}

uint32_t Resolve(CAppMng& prmProtocol, const std::string& prmHost) {
  try {
    return prmProtocol.ResolveHost(prmHost);
  } catch (const EBaseException& e) {
    WriteDebugLog("ResolveHost - " + e.GetMsg());
    return 0;
  }
}

}  // namespace

TRdpLaunchWorker& TVantrelTCSMng::LaunchWorker() {
  if (!m_LaunchWorker) m_LaunchWorker = std::make_unique<TRdpLaunchWorker>(RdpFileFolder());
  return *m_LaunchWorker;
}

bool TVantrelTCSMng::LaunchPause(int prmMs) {
  if (m_Hwnd != nullptr && m_Hwnd->IsWindowThread())
    return !m_Hwnd->WaitHandlingMessages(m_TerminateEvent, prmMs) && !m_InDestruction;
  return !m_TerminateEvent.Wait(prmMs);
}

bool TVantrelTCSMng::OpenDesktopListener(CAppMng& prmProtocol, const std::string& prmHost,
                                         int prmPort, int& prmLocalPort) {
  std::string address = prmHost;
  if (!IsValidIP(prmHost)) {
    uint32_t r = Resolve(prmProtocol, prmHost);
    if (r == RESOLVE_NOT_YET) r = Resolve(prmProtocol, prmHost);
    if (r == 0 || r == RESOLVE_NOT_YET) {
      m_UI.ReportError(TCS_ERR_RESOLVE_HOST, prmHost);
      return false;
    }
    address = DottedAddress(r);
  }
  TDBMng& store = GetDBMng();
  bool ok = false;
  try {
    ok = prmProtocol.AddConn(address, prmPort, 0, prmLocalPort, nullptr, 0, 0,
                             store.GetSecurityRDPFlag(), store.GetSSO(),
                             store.GetEnablecredsspsupport());
  } catch (const EBaseException& e) {
    WriteDebugLog("LaunchDesktop - AddConn: " + e.GetMsg());
  }
  if (!ok) m_UI.ReportError(TCS_ERR_OPEN_CONNECTION, prmHost);
  return ok;
}

void TVantrelTCSMng::LaunchDesktop(const std::string& prmDest, int prmHostIndex, int prmWidth,
                                   int prmHeight, int prmColorDepth, bool prmBitmapCaching,
                                   int prmPerfFlags, int /*prmSound*/, bool prmConnectToConsole,
                                   bool /*prmSpan*/, bool prmSSO, const std::string& prmStartApp,
                                   const std::string& prmWorkDir, int /*prmKeyboardHook*/,
                                   TDBMng* prmDBMng) {
  std::string cacheOut;
  ClearRDPCache(cacheOut);
  TDBMng& store = prmDBMng != nullptr ? *prmDBMng : GetDBMng();

  std::string host, deskName, user, pass;
  int port = DEFAULT_RDP_PORT;
  std::string xenDesktopID;
  if (prmHostIndex < 0) {
    if (!ParseTypedDestination(prmDest, host, port)) {
      m_UI.ReportError(TCS_ERR_INVALID_PORT, "");
      return;
    }
    deskName = prmDest;
  } else {
    std::lock_guard<std::mutex> g(m_HostsLock);
    if (static_cast<size_t>(prmHostIndex) >= m_Hosts.size()) return;
    const THost& desk = *m_Hosts[prmHostIndex];
    host = deskName = desk.GetHost();
    port = desk.GetPort();
    if (desk.GetProvider() == "XenDesktop") xenDesktopID = desk.GetID();
    if (prmSSO && store.GetSSO() && !desk.GetUsername().empty()) {
      user = desk.GetUsername();
      pass = desk.GetPwd();
      prmSSO = false;  // credentials found; the session's are not needed
    }
  }
  auto protocol = Protocol();
  if (prmSSO && store.GetSSO() && protocol) {
    user = protocol->GetUsername(false);
    pass = protocol->GetPassword(false);
  }
  if (!protocol || !protocol->IsConnected()) {
    m_UI.ReportError(TCS_ERR_NOT_CONNECTED, "");
    return;
  }
  if (host.empty()) {
    m_UI.ReportError(TCS_ERR_HOST_EMPTY, "");
    return;
  }
  const std::string workDir = prmWorkDir.empty() ? m_WorkDir : prmWorkDir;
  if (!xenDesktopID.empty()) {
    WriteDebugLog("XenDesktop launch not available");
    return;
  }
  int localPort = 0;
  if (!OpenDesktopListener(*protocol, host, port, localPort)) return;
  protocol->SendLogMsg(6, "VantrelTCS", 0, "", "Starting a remote desktop on " + host);

  TWinDesktopParams p;
  p.prmDeskName = deskName;
  p.prmHost = host;
  p.prmServer = GetFixedLocalHostAddr();
  p.prmPort = localPort;
  p.prmRemotePort = port;
  p.prmUserName = user;
  p.prmPass = pass;
  p.prmDomain = store.GetDomain();
  p.prmPlugins = m_PlugIns;
  p.prmWidth = prmWidth;
  p.prmHeight = prmHeight;
  p.prmColorDepth = prmColorDepth;
  p.prmRedirDrives = m_DPP.GetFlagBool(1, false);
  p.prmRedirPrinters = m_DPP.GetFlagBool(2, false);
  p.prmRedirPorts = m_DPP.GetFlagBool(3, false);
  p.prmRedirSmartCards = m_DPP.GetFlagBool(4, false);
  p.prmRedirClipboard = m_DPP.GetFlagBool(5, false);
  p.prmRedirPOSDevices = m_DPP.GetFlagBool(6, false);
  p.prmDisablePrtScreen = m_DPP.GetFlagBool(7, false);
  p.prmBitmapCaching = !prmBitmapCaching;
  p.prmPerfFlags = prmPerfFlags;
  p.prmID = 1;
  p.prmConnectToConsole = prmConnectToConsole;
  p.prmStartApp = prmStartApp;
  p.prmWorkDir = workDir;
  p.Options = ReadRdpOptions(store);
  LaunchWinDesktop(p);
  std::fill(p.prmPass.begin(), p.prmPass.end(), '\0');
  std::fill(pass.begin(), pass.end(), '\0');
}

bool TVantrelTCSMng::LaunchWinDesktop(const TWinDesktopParams& prmParams) {
  const std::string folder = RdpFileFolder();
  const std::string path = RdpFilePath(folder, prmParams.prmDeskName);
  std::string passHex;
  if (!prmParams.prmPass.empty()) passHex = CryptRDPPassword(prmParams.prmPass);
  if (!EnsurePrivateFolder(folder) ||
      !WritePrivateFile(path, BuildRdpFileText(prmParams, passHex))) {
    WriteDebugLog("LaunchWinDesktop - cannot write " + path);
    return false;
  }
  std::vector<std::string> argv =
      RdpClientCommandLine(RdpClientProgram(), prmParams.prmConnectToConsole, path);
  pid_t pid = 0;
  int err = SpawnProcess(argv, pid);
  if (err == 0) {
    LaunchWorker().Watch(pid);
  } else if (err == ENOENT || err == ENOTDIR) {
    m_Dialogs.MessageBox("Failed to start local client, please check the path specified", "Error",
                         MB_OK | MB_ICONERROR);
  } else {
    m_Dialogs.MessageBox("Failed to create process error: " + std::to_string(err), "Error",
                         MB_OK | MB_ICONERROR);
  }
  if (!GetDBMng().GetShowRdpFile()) LaunchWorker().ScheduleCleanup(RDP_FILE_KEEP_MS);
  return true;
}

bool TVantrelTCSMng::SetRdpClient(IRdpClientControl& prmRDP) {
  std::string host;
  if (!prmRDP.GetServer(host)) return false;
  auto protocol = Protocol();
  if (!protocol) {
    m_UI.ReportError(TCS_ERR_NOT_CONNECTED, "");
    return true;
  }
  std::string address = host;
  if (!IsValidIP(host)) {
    uint32_t r = Resolve(*protocol, host);
    for (int tries = 0; r == RESOLVE_NOT_YET && tries < RESOLVE_RETRIES; ++tries) {
      if (!LaunchPause(RESOLVE_RETRY_MS)) return true;
      r = Resolve(*protocol, host);
    }
    // An answer still pending after every retry is no address either.
    if (r == 0 || r == RESOLVE_NOT_YET) {
      m_UI.ReportError(TCS_ERR_RESOLVE_HOST, host);
      return true;
    }
    address = DottedAddress(r);
  }
  IRdpClientAdvancedSettings* advanced = prmRDP.AdvancedSettings();
  int port = DEFAULT_RDP_PORT;
  if (advanced != nullptr && !advanced->GetRDPPort(port)) return false;
  int localPort = 0;
  bool added = false;
  try {
    added = protocol->AddConn(address, port, 0, localPort, nullptr, 0, 0, 0, false, false);
  } catch (const EBaseException& e) {
    WriteDebugLog("SetRdpClient - AddConn: " + e.GetMsg());
  }
  if (!added) {
    WriteDebugLog("SetRdpClient - no listener for " + host);
    localPort = 0;
  }
  if (!prmRDP.SetServer(GetFixedLocalHostAddr())) return false;
  if (advanced != nullptr && !advanced->SetRDPPort(localPort)) return false;
  TDBMng& store = GetDBMng();
  for (int polls = 0; store.GetFlagConfig() == 0 && polls < CONFIG_POLLS; ++polls)
    if (!LaunchPause(CONFIG_POLL_MS)) return true;
  if (store.GetSSO()) {
    std::string user = protocol->GetUsername(false);
    std::string pass = protocol->GetPassword(false);
    const std::string& domain = store.GetDomain();
    bool ok = prmRDP.SetUserName(domain.empty() ? user : domain + "\\" + user);
    if (ok && advanced != nullptr) ok = advanced->SetClearTextPassword(pass);
    std::fill(pass.begin(), pass.end(), '\0');
    if (!ok) return false;
  }
  return true;
}

}  // namespace vantrel
