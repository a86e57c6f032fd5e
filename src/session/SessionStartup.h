// TSessionStartup: the session's start-up. Its connect thread builds the tunnel, reads the
// availability server's information, checks the clients, starts the monitors, loads the
// catalogue and marks the session ready; ConnectStart waits for it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "session/ClientChecks.h"
#include "session/Monitors.h"
#include "session/OstraClient.h"
#include "session/SessionContext.h"
#include "tunnel/AppMngFactory.h"

namespace vantrel {

class TSessionStartup {
 public:
  TSessionStartup(TSessionContext& prmContext, TOstraClient& prmOstra, TClientChecks& prmClients,
                  TSessionMonitors& prmMonitors);
  // Joins the connect thread (see Join).
  ~TSessionStartup();
  TSessionStartup(const TSessionStartup&) = delete;
  TSessionStartup& operator=(const TSessionStartup&) = delete;

  // Replaces the tunnel's construction; set before ConnectStart.
  void SetAppMngFactory(TAppMngFactory prmFactory) { m_AppMngFactory = std::move(prmFactory); }

  // Starts the connect thread and waits until it ended; true when the session became ready.
  // On the window thread the wait handles messages. A second call starts nothing and returns
  // the first's result.
  bool ConnectStart();
  // Waits for the connect thread and joins it. The context's destruction must have begun, so
  // that its every step ends; on the window thread the wait handles messages meanwhile.
  void Join();
  bool IsReady() const { return m_Ready; }

 private:
  // What ConnectStart waits on; shared so that a destruction meanwhile leaves it valid.
  struct TConnectState {
    TEvent Done{true};
    std::atomic<bool> Ready{false};
  };

  void ConnectThd(std::shared_ptr<TConnectState> prmState);
  void RunConnectSteps();
  // Builds the tunnel and waits until it is up; false when start-up must end.
  bool OpenTunnel();
  bool WaitTunnelReady();
  // Status 2, error 3 with prmMsg, no tunnel.
  void TunnelFailed(const std::string& prmMsg);
  void ApplyKeepAlive();

  TSessionContext& m_Context;
  TOstraClient& m_Ostra;
  TClientChecks& m_Clients;
  TSessionMonitors& m_Monitors;
  TAppMngFactory m_AppMngFactory = CreateAppMng;
  std::atomic<bool> m_Ready{false};
  std::mutex m_ThreadLock;
  std::thread m_ConnectThd;
  std::shared_ptr<TConnectState> m_ConnectState;
};

}  // namespace vantrel
