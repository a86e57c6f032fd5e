#include "session/Monitors.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "catalogue/TCSCodes.h"
#include "diag/DebugLog.h"
#include "diag/ThreadEntry.h"

namespace vantrel {

int TimeoutWaitMs(int prmIdleLeft, int prmLifetimeLeft, int prmIdleAlert, int prmLifetimeAlert) {
  int64_t margin = prmIdleLeft < prmLifetimeLeft ? int64_t{prmIdleLeft} - prmIdleAlert
                                                 : int64_t{prmLifetimeLeft} - prmLifetimeAlert;
  int64_t waitMs = margin / 2 * 1000;
  if (waitMs < 1000) return 500;
  return static_cast<int>(std::min<int64_t>(waitMs, INT_MAX));
}

TSessionMonitors::TSessionMonitors(IMonitorHost& prmHost,
                                   std::unique_ptr<ILastInputSource> prmInput, TWait prmWait)
    : m_Host(prmHost), m_Input(std::move(prmInput)), m_Wait(std::move(prmWait)) {
  if (!m_Wait) {
    m_Wait = [this](int prmMs) {
      return WaitForAny({&m_Host.GetStopEvent(), &m_StopEvent}, prmMs) >= 0;
    };
  }
}

TSessionMonitors::~TSessionMonitors() {
  Stop();
}

void TSessionMonitors::StartTimeoutMonitor() {
  std::lock_guard<std::mutex> lock(m_ThreadsLock);
  if (m_TOMonitorThd.joinable() || m_StopEvent.IsSet()) return;
  m_TOMonitorThd = std::thread([this] { MonitorTimeoutsThd(); });
}

void TSessionMonitors::StartKeyBoardMonitor() {
  std::lock_guard<std::mutex> lock(m_ThreadsLock);
  if (m_KeyBoardMonitorThd.joinable() || m_StopEvent.IsSet()) return;
  // The input source is opened on first use by the monitor thread, so a session without a
  // keyboard limit never touches the display.
  m_KeyBoardMonitorThd = std::thread([this] { MonitorKeyBoardThd(); });
}

void TSessionMonitors::Stop() {
  m_StopEvent.Set();
  std::lock_guard<std::mutex> lock(m_ThreadsLock);
  if (m_TOMonitorThd.joinable()) m_TOMonitorThd.join();
  if (m_KeyBoardMonitorThd.joinable()) m_KeyBoardMonitorThd.join();
}

void TSessionMonitors::MonitorTimeoutsThd() {
  RunGuarded("MonitorTimeoutsThd", [this] { RunTimeouts(); });
}

void TSessionMonitors::MonitorKeyBoardThd() {
  RunGuarded("MonitorKeyBoardThd", [this] { RunKeyBoard(); });
}

void TSessionMonitors::RunTimeouts() {
  ITCSUserInterface& ui = m_Host.GetUI();
  bool alerting = false;
  for (;;) {
    int idle = 0, lifetime = 0;
    int waitMs = 500;
    if (!alerting) {
      if (!m_Host.GetTimers(idle, lifetime)) {
        WriteDebugLog("MonitorTimeoutsThd - No tunnel to ask for the timers");
        return;
      }
      waitMs = TimeoutWaitMs(idle, lifetime, m_Host.GetIdleAlert(), m_Host.GetLifetimeAlert());
    }
    if (m_Wait(waitMs)) return;
    if (!m_Host.GetTimers(idle, lifetime)) {
      WriteDebugLog("MonitorTimeoutsThd - No tunnel to ask for the timers");
      return;
    }
    if (lifetime <= 0) {
      ui.LifetimeTimeoutalert(TCS_ALERT_EXPIRED);
      return;
    }
    if (idle <= 0) {
      ui.IdleTimeoutAlert(TCS_ALERT_EXPIRED);
      return;
    }
    const int idleAlert = m_Host.GetIdleAlert();
    const int lifetimeAlert = m_Host.GetLifetimeAlert();
    auto idleDue = [&] {
      if (idleAlert < idle) return false;
      ui.IdleTimeoutAlert(idle);
      return true;
    };
    auto lifetimeDue = [&] {
      if (lifetimeAlert < lifetime) return false;
      ui.LifetimeTimeoutalert(lifetime);
      return true;
    };
    // The nearer limit is tested first; on a tie the lifetime.
    bool due = idle < lifetime ? (idleDue() || lifetimeDue()) : (lifetimeDue() || idleDue());
    if (due) {
      alerting = true;
    } else if (alerting) {
      ui.ClearTimeoutAlerts();
      alerting = false;
    }
  }
}

void TSessionMonitors::RunKeyBoard() {
  ITCSUserInterface& ui = m_Host.GetUI();
  if (!m_Input) m_Input = CreateLastInputSource();
  int failures = 0;
  while (!m_Host.InDestruction()) {
    if (m_Wait(1000)) return;
    uint64_t idleMs = 0;
    if (!m_Input->GetIdleMs(idleMs)) {
      WriteDebugLog("MonitorKeyBoardThd - Failed to read the last input time");
      if (++failures >= kMaxInputFailures) return;
      continue;
    }
    const int64_t limit = m_Host.GetIdleTimeoutKM();
    const int64_t idleSec = static_cast<int64_t>(idleMs / 1000);
    const int64_t left = std::max<int64_t>(limit - idleSec, INT_MIN + 1);
    if (left >= 60)
      ui.ClearTimeoutAlerts();
    else
      ui.IdleTimeoutAlertKM(static_cast<int>(left));
    if (idleSec >= limit) {
      ui.IdleTimeoutAlertKM(TCS_ALERT_EXPIRED);
      ui.ReportError(TCS_ERR_ACCESS_DENIED, "");
      return;
    }
  }
}

}  // namespace vantrel
