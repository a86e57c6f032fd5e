// The lifecycle of a tunnel manager's control connection as one value. The manager changes it in
// one place (CAppMngCommon::SetState), which logs each change and derives its events from it.
#pragma once

namespace vantrel {

enum class TTunnelState {
  Created,     // no control connection (also after a failed set-up)
  Connecting,  // InitControlConnection is setting the connection up
  Opened,      // tunnel opened, init message sent, control thread running
  Up,          // the gateway declared the tunnel up: IsReady and IsConnected are true
  Lost,        // the gateway closed the control connection; the window is being told
  Halted,      // the control thread could not be started; nobody is told, the last word stands
  Stopping,    // the manager is being destroyed: every wait ends
  Stopped,     // threads joined, listeners and connections gone
};

const char* TunnelStateName(TTunnelState prmState);

// Whether prmTo may follow prmFrom. A repeated state is no change; nothing leaves Stopping but
// Stopped, so a late message from the gateway cannot revive a manager that is going away.
bool IsTunnelTransitionAllowed(TTunnelState prmFrom, TTunnelState prmTo);

// The control connection carries messages: requests may wait for answers.
inline bool IsTunnelLive(TTunnelState prmState) {
  return prmState == TTunnelState::Opened || prmState == TTunnelState::Up;
}

inline bool IsTunnelStopping(TTunnelState prmState) {
  return prmState == TTunnelState::Stopping || prmState == TTunnelState::Stopped;
}

}  // namespace vantrel
