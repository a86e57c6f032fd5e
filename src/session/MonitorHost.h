// What the idle/lifetime and keyboard/mouse monitors need from the session manager that owns
// them. The manager implements it; the monitors reach nothing of the manager except through it.
#pragma once

#include "catalogue/SessionServices.h"

namespace vantrel {

// Contract: every operation may be called from the monitor threads. The owner stops the monitors
// (TSessionMonitors::Stop, which joins both threads) before it frees the tunnel or the reporting
// channel.
class IMonitorHost : public virtual ISessionServices {
 public:
  // The gateway's idle and lifetime seconds left (the tunnel manager's GetTimers). False when
  // there is no tunnel to ask; the values are then left unchanged.
  virtual bool GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) = 0;
  // Restarts the gateway's idle count (the tunnel manager's ResetTimers); nothing without tunnel.
  virtual void ResetTimers() = 0;

  // Alert settings in seconds (m_LifetimeAlert, m_IdleAlert, m_IdleTimeout_km). Read on every
  // round so a later SetTimeoutAlerts takes effect.
  virtual int GetLifetimeAlert() = 0;
  virtual int GetIdleAlert() = 0;
  virtual int GetIdleTimeoutKM() = 0;
};

}  // namespace vantrel
