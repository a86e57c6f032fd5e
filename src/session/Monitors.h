// The session's two watchers: the idle/lifetime monitor, which asks the gateway how long the
// session has left and warns before a limit, and the keyboard/mouse monitor, which measures
// local inactivity against the configured limit. Both only read settings and post reports.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Event.h"
#include "platform/LastInput.h"
#include "session/MonitorHost.h"

namespace vantrel {

// The wait of one monitor round in milliseconds: half the margin (seconds left on the nearer
// limit minus that limit's alert) in whole seconds, and 500 when that comes to under a second.
int TimeoutWaitMs(int prmIdleLeft, int prmLifetimeLeft, int prmIdleAlert, int prmLifetimeAlert);

class TSessionMonitors {
 public:
  // Waits prmMs; true when the monitors must stop.
  using TWait = std::function<bool(int prmMs)>;

  // prmInput: nullptr takes CreateLastInputSource(). prmWait: empty waits on the host's terminate
  // event and on Stop(); tests give one that advances a fake clock instead.
  explicit TSessionMonitors(IMonitorHost& prmHost, std::unique_ptr<ILastInputSource> prmInput = {},
                            TWait prmWait = {});
  // Stops and joins both threads.
  ~TSessionMonitors();
  TSessionMonitors(const TSessionMonitors&) = delete;
  TSessionMonitors& operator=(const TSessionMonitors&) = delete;

  // Each starts its thread once; later calls do nothing.
  void StartTimeoutMonitor();
  void StartKeyBoardMonitor();
  // Ends both threads cooperatively and joins them; each returns within one wait of the
  // request. Safe to call more than once and from any thread but the monitors'.
  void Stop();

  // The thread bodies; they return when their monitor is done. Never raise.
  void MonitorTimeoutsThd();
  void MonitorKeyBoardThd();

  // Input-time failures a keyboard monitor tolerates; the fifth ends it.
  static constexpr int kMaxInputFailures = 5;

 private:
  void RunTimeouts();
  void RunKeyBoard();

  IMonitorHost& m_Host;
  std::unique_ptr<ILastInputSource> m_Input;
  TWait m_Wait;
  TEvent m_StopEvent{true};
  std::mutex m_ThreadsLock;
  std::thread m_TOMonitorThd;
  std::thread m_KeyBoardMonitorThd;
};

}  // namespace vantrel
