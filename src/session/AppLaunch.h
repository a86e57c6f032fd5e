// TAppLauncher: the session's launches of published applications. A terminal-services
// application is looked up on the availability server, its server's agent tells how the server
// runs applications, a loopback listener of the tunnel (one per application server when the
// listeners may be shared) carries the RDP client there, and the client program is started on
// the application's connection file by a launch thread. Window thread, except the launch threads.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/AppTree.h"
#include "catalogue/ParamList.h"
#include "config/DbMng.h"
#include "session/AppRdpFile.h"
#include "session/Launcher.h"
#include "session/OstraClient.h"
#include "session/SessionContext.h"

namespace vantrel {

constexpr int SERVER_AGENT_PORT = 9091;

class TAppLauncher {
 public:
  // All three are borrowed and must outlive the launcher.
  TAppLauncher(TSessionContext& prmContext, TOstraClient& prmOstra, TLauncher& prmLauncher);
  // Joins the launch threads; their error boxes end with the session's stop event.
  ~TAppLauncher();
  TAppLauncher(const TAppLauncher&) = delete;
  TAppLauncher& operator=(const TAppLauncher&) = delete;

  // The catalogue's application of that identity; an unknown one is logged and ignored.
  // prmDBMng null: the session's store. appIdx is the page's index (only logged).
  void LaunchApp(const std::string& prmAppID, TDBMng* prmDBMng, int appIdx);
  void LaunchApp(TApp& prmApp, TDBMng& prmDBMng, int appIdx);

  // The local port remembered for the first entry of m_AppHostAndPort whose key (before its
  // "=") is exactly strInfo ("address:port"); 0 when none is.
  int GetRealPortForApp(const std::string& strInfo) const;
  const TStringList& GetAppHostAndPort() const { return m_AppHostAndPort; }

 private:
  struct TLaunchThread {
    std::shared_ptr<std::atomic<bool>> Done;
    std::thread Thread;
  };

  void LaunchTSApp(TTSApp& prmApp, TDBMng& prmDBMng);
  // The application's server host and RDP port; false after reporting why not.
  bool GetAppServer(const TTSApp& prmApp, std::string& prmHost, int& prmPort);
  // The agent's type: 1 or 2, 0 for another or no value, -1 when the request failed.
  int GetServerAgentInfo(const std::string& prmHost);
  // The loopback port carrying the RDP client to prmAddress:prmPort; 0 after a reported failure.
  int ListenerForServer(CAppMng& prmProtocol, const std::string& prmAddress,
                        const std::string& prmHost, int prmPort, TDBMng& prmDBMng);
  bool LaunchWinApp(const TWinAppParams& prmParams, TDBMng& prmDBMng);
  // Starts the client program on argv; runs on its own thread, which owns the arguments.
  void LaunchRemoteAPPThd(const std::vector<std::string>& prmArgv, bool prmShowRdpFile,
                          TRdpLaunchWorker& prmWorker);
  void ReapThreads();

  TSessionContext& m_Context;
  TOstraClient& m_Ostra;
  TLauncher& m_Launcher;
  TStringList m_AppHostAndPort;
  std::vector<TLaunchThread> m_Threads;
};

}  // namespace vantrel
