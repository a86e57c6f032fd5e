#include "session/Launcher.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "catalogue/XenAppFarm.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "platform/RdpClient.h"
#include "session/FileNames.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

namespace {

constexpr int RESOLVE_RETRY_MS = 200;
constexpr int RESOLVE_RETRIES = 151;
constexpr int CONFIG_POLL_MS = 200;
constexpr int CONFIG_POLLS = 150;

uint32_t Resolve(CAppMng& prmProtocol, const std::string& prmHost) {
  try {
    return prmProtocol.ResolveHost(prmHost);
  } catch (const EBaseException& e) {
    WriteDebugLog("ResolveHost - " + e.GetMsg());
    return kResolveNotFound;
  }
}

}  // namespace

TLauncher::TLauncher(TSessionContext& prmContext, TOstraClient& prmOstra)
    : m_Context(prmContext), m_Ostra(prmOstra) {
  PrepareTempFolder();
  // The loopback-trust step has nothing to change for FreeRDP; it only leaves its trace.
  WriteDebugLog("DisableMstscWarningDialog - nothing to change");
}

TLauncher::~TLauncher() {
  std::string ignored;
  TFileExchange::ClearRDPCache(ignored);
  DeleteTempRdpFiles();
}

void TLauncher::FindPlugIns(TDBMng& prmDBMng) {
  const std::string sysDir = RdpSystemDir();
  for (int i = 0; i < prmDBMng.GetPluginsCount(); ++i) {
    std::string name = prmDBMng.GetPluginName(i);
    if (name.find('/') == std::string::npos) name = sysDir + "/" + name;
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) {
      if (!m_PlugIns.empty()) m_PlugIns += ",";
      m_PlugIns += name;
    } else if (prmDBMng.IsPluginReq(i)) {
      m_Context.GetUI().ReportError(TCS_ERR_PLUGINS_MISSING, name);
    }
  }
}

void TLauncher::PrepareTempFolder() {
  const std::string dir = RdpFileFolder();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    WriteDebugLog("create dir failed,dir:" + dir);
}

void TLauncher::DeleteTempRdpFiles() {
  const std::string dir = RdpFileFolder();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (EndsWithText(name, ".rdp")) unlink((dir + "/" + name).c_str());
  }
  closedir(d);
}

TRdpLaunchWorker& TLauncher::LaunchWorker() {
  if (!m_LaunchWorker) m_LaunchWorker = std::make_unique<TRdpLaunchWorker>(RdpFileFolder());
  return *m_LaunchWorker;
}

bool TLauncher::LaunchPause(int prmMs) {
  HWND hwnd = m_Context.GetHWND();
  TEvent& stop = m_Context.GetStopEvent();
  if (hwnd != nullptr && hwnd->IsWindowThread())
    return !hwnd->WaitHandlingMessages(stop, prmMs) && !m_Context.InDestruction();
  return !stop.Wait(prmMs);
}

bool TLauncher::ResolveDestination(CAppMng& prmProtocol, const std::string& prmHost,
                                   std::string& prmAddress) {
  // A name the gateway has not resolved yet is asked once more.
  auto resolve = [&prmProtocol](const std::string& prmName) {
    uint32_t r = Resolve(prmProtocol, prmName);
    return r == kResolveNotYet ? Resolve(prmProtocol, prmName) : r;
  };
  if (ResolveDotted(prmHost, resolve, prmAddress)) return true;
  m_Context.GetUI().ReportError(TCS_ERR_RESOLVE_HOST, prmHost);
  return false;
}

bool TLauncher::AddDestinationConn(CAppMng& prmProtocol, const std::string& prmAddress,
                                   const std::string& prmHost, int prmPort, int& prmLocalPort) {
  TDBMng& store = m_Context.GetDBMng();
  bool ok = false;
  try {
    ok = prmProtocol.AddConn(prmAddress, prmPort, 0, prmLocalPort, nullptr, 0, 0,
                             store.GetSecurityRDPFlag(), store.GetSSO(),
                             store.GetEnablecredsspsupport());
  } catch (const EBaseException& e) {
    WriteDebugLog("LaunchDesktop - AddConn: " + e.GetMsg());
  }
  if (!ok) m_Context.GetUI().ReportError(TCS_ERR_OPEN_CONNECTION, prmHost);
  return ok;
}

bool TLauncher::OpenDesktopListener(CAppMng& prmProtocol, const std::string& prmHost, int prmPort,
                                    int& prmLocalPort) {
  std::string address;
  return ResolveDestination(prmProtocol, prmHost, address) &&
         AddDestinationConn(prmProtocol, address, prmHost, prmPort, prmLocalPort);
}

void TLauncher::LaunchDesktop(const std::string& prmDest, int prmHostIndex, int prmWidth,
                              int prmHeight, int prmColorDepth, bool prmBitmapCaching,
                              int prmPerfFlags, int /*prmSound*/, bool prmConnectToConsole,
                              bool /*prmSpan*/, bool prmSSO, const std::string& prmStartApp,
                              const std::string& prmWorkDir, int /*prmKeyboardHook*/,
                              TDBMng* prmDBMng) {
  std::string cacheOut;
  TFileExchange::ClearRDPCache(cacheOut);
  TDBMng& store = prmDBMng != nullptr ? *prmDBMng : m_Context.GetDBMng();

  std::string host, deskName, user, pass;
  int port = DEFAULT_RDP_PORT;
  std::string xenDesktopID, xenDesktopDesc, xenController, xenDomain;
  if (prmHostIndex < 0) {
    if (!ParseTypedDestination(prmDest, host, port)) {
      m_Context.GetUI().ReportError(TCS_ERR_INVALID_PORT, "");
      return;
    }
    deskName = prmDest;
  } else {
    bool listed = m_Ostra.VisitHost(static_cast<size_t>(prmHostIndex), [&](const THost& desk) {
      host = deskName = desk.GetHost();
      port = desk.GetPort();
      if (desk.IsProvider("XenDesktop")) {
        xenDesktopID = desk.GetID();
        xenDesktopDesc = desk.GetDesc();
        xenController = ParamValue(desk.GetProviderParams(), "CtlIP");
        xenDomain = ParamValue(desk.GetProviderParams(), "Domain");
      }
      if (prmSSO && store.GetSSO() && !desk.GetUsername().empty()) {
        user = desk.GetUsername();
        pass = desk.GetPwd();
        prmSSO = false;  // credentials found; the session's are not needed
      }
    });
    if (!listed) return;
    if (!IsTcpPort(port)) {
      m_Context.GetUI().ReportError(TCS_ERR_INVALID_PORT, "");
      return;
    }
  }
  auto protocol = m_Context.Protocol();
  if (prmSSO && store.GetSSO() && protocol) {
    user = protocol->GetUsername(false);
    pass = protocol->GetPassword(false);
  }
  if (!protocol || !protocol->IsConnected()) {
    m_Context.GetUI().ReportError(TCS_ERR_NOT_CONNECTED, "");
    return;
  }
  if (host.empty()) {
    m_Context.GetUI().ReportError(TCS_ERR_HOST_EMPTY, "");
    return;
  }
  const std::string workDir = prmWorkDir.empty() ? m_WorkDir : prmWorkDir;
  if (!xenDesktopID.empty()) {
    vantrel::LaunchXenDesktop(xenDesktopID, xenDesktopDesc, xenController, *protocol, store,
                              m_Ostra.GetDPP(), protocol->GetUsername(false),
                              protocol->GetPassword(false), xenDomain, CitrixEnv());
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
  const TDPP& dpp = m_Ostra.GetDPP();
  p.prmRedirDrives = dpp.GetFlagBool(1, false);
  p.prmRedirPrinters = dpp.GetFlagBool(2, false);
  p.prmRedirPorts = dpp.GetFlagBool(3, false);
  p.prmRedirSmartCards = dpp.GetFlagBool(4, false);
  p.prmRedirClipboard = dpp.GetFlagBool(5, false);
  p.prmRedirPOSDevices = dpp.GetFlagBool(6, false);
  p.prmDisablePrtScreen = dpp.GetFlagBool(7, false);
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

bool TLauncher::LaunchWinDesktop(const TWinDesktopParams& prmParams) {
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
  StartRdpClient(argv, m_Context.GetDBMng().GetShowRdpFile(), LaunchWorker(), m_Context.Dialogs());
  return true;
}

bool TLauncher::SetRdpClient(IRdpClientControl& prmRDP) {
  std::string host;
  if (!prmRDP.GetServer(host)) return false;
  auto protocol = m_Context.Protocol();
  if (!protocol) {
    m_Context.GetUI().ReportError(TCS_ERR_NOT_CONNECTED, "");
    return true;
  }
  // A name the gateway has not resolved yet is asked again for a while.
  bool going = false;
  auto resolve = [&](const std::string& prmName) {
    uint32_t r = Resolve(*protocol, prmName);
    for (int tries = 0; r == kResolveNotYet && tries < RESOLVE_RETRIES; ++tries) {
      if (!LaunchPause(RESOLVE_RETRY_MS)) {
        going = true;
        return kResolveNotFound;
      }
      r = Resolve(*protocol, prmName);
    }
    return r;
  };
  std::string address;
  if (!ResolveDotted(host, resolve, address)) {
    // An answer still pending after every retry is no address either.
    if (!going) m_Context.GetUI().ReportError(TCS_ERR_RESOLVE_HOST, host);
    return true;
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
  TDBMng& store = m_Context.GetDBMng();
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

TCitrixLaunchEnv TLauncher::CitrixEnv() {
  if (!m_CitrixService) {
    TSessionContext& context = m_Context;
    m_CitrixService = std::make_unique<TXmlCitrixService>(
        context.FileExchange().Limits(), [&context] { return context.InDestruction(); });
  }
  TRdpLaunchWorker& worker = LaunchWorker();
  return {*m_CitrixService, m_Context.Dialogs(), [&worker](pid_t prmPid) { worker.Watch(prmPid); }};
}

void TLauncher::LaunchXenApp(TXenApp& prmApp, TDBMng& prmDBMng) {
  auto protocol = m_Context.Protocol();
  if (!protocol || !protocol->IsConnected()) {
    m_Context.GetUI().ReportError(TCS_ERR_NOT_CONNECTED, "");
    return;
  }
  std::string user, password, domain;
  if (TXenAppFarm* farm = prmApp.GetFarm()) farm->GetCreds(user, password, domain);
  vantrel::LaunchApp(prmApp, *protocol, m_Ostra.GetDPP(), prmDBMng, user, password, domain,
                     CitrixEnv());
}

}  // namespace vantrel
