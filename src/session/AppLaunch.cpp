#include "session/AppLaunch.h"

#include <cerrno>
#include <random>

#include "catalogue/OstraQuery.h"
#include "catalogue/XenAppFarm.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"
#include "diag/Xml.h"
#include "platform/RdpClient.h"
#include "session/DesktopLaunch.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

namespace {

constexpr const char* kNoOstraServer = "Ostra is enabled, but Ostra server is not specified";
constexpr int kRandomIndexBound = 200;

}  // namespace

TAppLauncher::TAppLauncher(TSessionContext& prmContext, TOstraClient& prmOstra,
                           TLauncher& prmLauncher)
    : m_Context(prmContext), m_Ostra(prmOstra), m_Launcher(prmLauncher) {}

TAppLauncher::~TAppLauncher() {
  for (TLaunchThread& t : m_Threads)
    if (t.Thread.joinable()) t.Thread.join();
}

void TAppLauncher::LaunchApp(const std::string& prmAppID, TDBMng* prmDBMng, int appIdx) {
  TApp* app = m_Ostra.Apps().FindApp(prmAppID);
  if (app == nullptr) {
    WriteDebugLog("LaunchApp - no application " + prmAppID);
    return;
  }
  LaunchApp(*app, prmDBMng != nullptr ? *prmDBMng : m_Context.GetDBMng(), appIdx);
}

void TAppLauncher::LaunchApp(TApp& prmApp, TDBMng& prmDBMng, int appIdx) {
  if (appIdx == -1) appIdx = static_cast<int>(std::random_device{}() % kRandomIndexBound);
  WriteDebugLog("LaunchApp - " + prmApp.GetID() + " (index " + std::to_string(appIdx) + ")");
  if (auto* ts = dynamic_cast<TTSApp*>(&prmApp)) {
    LaunchTSApp(*ts, prmDBMng);
  } else if (auto* xen = dynamic_cast<TXenApp*>(&prmApp)) {
    m_Launcher.LaunchXenApp(*xen, prmDBMng);
  }
}

void TAppLauncher::LaunchTSApp(TTSApp& prmApp, TDBMng& prmDBMng) {
  WriteDebugLog("LaunchTSApp - " + prmApp.GetName());
  std::string cacheOut;
  TFileExchange::ClearRDPCache(cacheOut);
  auto connected = [this] {
    auto protocol = m_Context.Protocol();
    if (protocol && protocol->IsConnected()) return protocol;
    m_Context.GetUI().ReportError(TCS_ERR_NOT_CONNECTED, "");
    return std::shared_ptr<CAppMng>();
  };
  // Without a tunnel the requests below could only fail; the page is told the real cause.
  if (!connected()) return;
  std::string host;
  int port = DEFAULT_RDP_PORT;
  if (!GetAppServer(prmApp, host, port)) return;
  const int agentType = GetServerAgentInfo(host);
  const int serverType =
      agentType == APP_SERVER_REMOTE_APP ? APP_SERVER_REMOTE_APP : APP_SERVER_FULL_SESSION;
  std::string user, pass;
  if (prmDBMng.GetSSO()) {
    user = m_Context.GetUsername(false);
    pass = m_Context.GetPassword(false);
  }
  auto protocol = connected();  // the agent request may have outlived the tunnel
  std::string address;
  if (!protocol || !m_Launcher.ResolveDestination(*protocol, host, address)) return;
  const int localPort = ListenerForServer(*protocol, address, host, port, prmDBMng);
  if (localPort == 0) return;
  protocol->SendLogMsg(6, "VantrelTCS", 0, "", "Starting " + prmApp.GetName() + "  on " + host);
  prmApp.SetSvrHost(host);

  TWinAppParams p;
  p.prmAppName = prmApp.GetName();
  p.prmLocation = prmApp.GetLocation();
  p.prmWorkDir = prmApp.GetWorkDir();
  p.prmWidth = prmApp.GetWidth();
  p.prmHeight = prmApp.GetHeight();
  p.prmServerHost = host;
  p.prmServer = GetFixedLocalHostAddr();
  p.prmPort = localPort;
  p.prmUserName = user;
  p.prmPass = pass;
  p.prmDomain = prmDBMng.GetDomain();
  p.prmPlugins = m_Launcher.GetPlugIns();
  const TDPP& dpp = m_Ostra.GetDPP();
  for (int flag = 1; flag <= 6; ++flag) p.prmRedir[flag - 1] = dpp.GetFlagBool(flag, false);
  p.prmDisablePrtScreen = dpp.GetFlagBool(TDPP::FLAG_ANTI_KEYLOG, false);
  p.prmValidAppSize = prmDBMng.GetVaildAppSize();
  p.prmServerType = serverType;
  p.Options = ReadRdpOptions(prmDBMng);
  LaunchWinApp(p, prmDBMng);
  std::fill(p.prmPass.begin(), p.prmPass.end(), '\0');
  std::fill(pass.begin(), pass.end(), '\0');
}

bool TAppLauncher::GetAppServer(const TTSApp& prmApp, std::string& prmHost, int& prmPort) {
  const std::string server = m_Context.GetOstraServer();
  std::string failure;
  if (server.empty()) {
    failure = kNoOstraServer;
  } else {
    const std::string url =
        TOstraQuery(server, "/query/appserver").Add("_appid", prmApp.GetID()).URL();
    std::string body;
    m_Context.GetFile(url, body, TCS_STATUS_NONE, "", failure, "");
    TXmlDoc doc = TXmlDoc::ParseBytes(body.data(), body.size());
    if (doc.IsValid()) {
      TXmlNode error = doc.Root().FindFirst("Error");
      if (error) {
        int code = 0;
        std::string extra = TryStrToInt(error.Text(), code) ? std::to_string(code) : error.Text();
        WriteDebugLog("GetAppServer - error " + extra + " " + error.Attr("Info"));
        m_Context.GetUI().ReportError(TCS_ERR_APP_LAUNCH, extra);
        return false;
      }
      // The root itself may be the answer's "Server" element.
      TXmlNode found =
          SameText(doc.Root().Name(), "Server") ? doc.Root() : doc.Root().FindFirst("Server");
      if (!found) {
        m_Context.GetUI().ReportError(TCS_ERR_APP_LAUNCH, "1");
        return false;
      }
      prmHost = found.Text();
      prmPort = PortOr(found.Attr("Port"), DEFAULT_RDP_PORT);
      if (IsTcpPort(prmPort)) return true;
      m_Context.GetUI().ReportError(TCS_ERR_INVALID_PORT, "");
      return false;
    }
    failure = "invalid server response - " + failure;
  }
  // The launch cannot go on; the page hears of it instead of nothing happening.
  WriteDebugLog("GetAppServer - " + failure);
  m_Context.GetUI().ReportError(TCS_ERR_APP_LAUNCH, failure);
  return false;
}

int TAppLauncher::GetServerAgentInfo(const std::string& prmHost) {
  const std::string url =
      "http://" + prmHost + ":" + std::to_string(SERVER_AGENT_PORT) + "/agent/info";
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_NONE, "", failure, "")) {
    WriteDebugLog("GetServerAgentInfo - " + failure);
    return -1;
  }
  TXmlDoc doc = TXmlDoc::ParseBytes(body.data(), body.size());
  TXmlNode info;
  if (doc.IsValid())
    info =
        SameText(doc.Root().Name(), "ServerInfo") ? doc.Root() : doc.Root().FindFirst("ServerInfo");
  if (!info) {
    WriteDebugLog("GetServerAgentInfo - no ServerInfo from " + prmHost);
    m_Context.GetUI().ReportError(TCS_ERR_SERVER_AGENT, "");
    return 0;
  }
  const int type = info.AttrInt("Type", 0);
  return type == 1 || type == 2 ? type : 0;
}

int TAppLauncher::ListenerForServer(CAppMng& prmProtocol, const std::string& prmAddress,
                                    const std::string& prmHost, int prmPort, TDBMng& prmDBMng) {
  // A listener that stops after its first client cannot be shared; the others serve every
  // application of their server.
  const bool shared = prmDBMng.GetSecurityRDPFlag() == 0;
  const std::string key = prmAddress + ":" + std::to_string(prmPort);
  if (shared) {
    if (int port = GetRealPortForApp(key); port != 0) return port;
  }
  int localPort = 0;
  if (!m_Launcher.AddDestinationConn(prmProtocol, prmAddress, prmHost, prmPort, localPort))
    return 0;
  if (shared) m_AppHostAndPort.push_back(key + "=" + std::to_string(localPort));
  return localPort;
}

int TAppLauncher::GetRealPortForApp(const std::string& strInfo) const {
  for (const std::string& entry : m_AppHostAndPort) {
    // The whole key must match: a part of it would send the application to another server
    // (10.0.0.1:3389 is inside 110.0.0.1:3389).
    size_t eq = entry.find('=');
    if (eq == std::string::npos || std::string_view(entry).substr(0, eq) != strInfo) continue;
    int port = 0;
    return TryStrToInt(std::string_view(entry).substr(eq + 1), port) ? port : 0;
  }
  return 0;
}

bool TAppLauncher::LaunchWinApp(const TWinAppParams& prmParams, TDBMng& prmDBMng) {
  const std::string folder = RdpFileFolder();
  const std::string path =
      RdpFilePath(folder, prmParams.prmServerHost + "_" + prmParams.prmAppName);
  std::string passHex;
  if (!prmParams.prmPass.empty()) passHex = CryptRDPPassword(prmParams.prmPass);
  if (!EnsurePrivateFolder(folder) ||
      !WritePrivateFile(path, BuildAppRdpFileText(prmParams, passHex))) {
    WriteDebugLog("LaunchWinApp - cannot write " + path);
    m_Context.GetUI().ReportError(TCS_ERR_APP_LAUNCH, "cannot write " + path);
    return false;
  }
  // The command line goes to its own thread: a second launch never changes the first one's.
  std::vector<std::string> argv = RdpClientCommandLine(RdpClientProgram(), false, path);
  ReapThreads();
  TRdpLaunchWorker& worker = m_Launcher.LaunchWorker();
  auto done = std::make_shared<std::atomic<bool>>(false);
  const bool show = prmDBMng.GetShowRdpFile();
  std::thread t([this, argv = std::move(argv), show, &worker, done] {
    RunGuarded("LaunchRemoteAPPThd", [&] { LaunchRemoteAPPThd(argv, show, worker); });
    *done = true;
  });
  m_Threads.push_back({std::move(done), std::move(t)});
  return true;
}

void TAppLauncher::LaunchRemoteAPPThd(const std::vector<std::string>& prmArgv, bool prmShowRdpFile,
                                      TRdpLaunchWorker& prmWorker) {
  StartRdpClient(prmArgv, prmShowRdpFile, prmWorker, m_Context.Dialogs());
}

void TAppLauncher::ReapThreads() {
  std::erase_if(m_Threads, [](TLaunchThread& t) {
    if (!*t.Done) return false;
    t.Thread.join();
    return true;
  });
}

}  // namespace vantrel
