// The lifecycle of a tunnel's link to the gateway as one value: the set-up stages in their
// order, then up, lost and closed. The link changes it in one place (CTunnelLink::SetState),
// which logs each change and derives its events from it.
#pragma once

namespace vantrel {

enum class TTunnelState {
  Created,     // no control connection (also after a failed set-up)
  Proxying,    // finding the way through a proxy: discovery and CONNECT attempts
  Connecting,  // the TCP connection to the gateway itself
  Securing,    // the TLS handshake
  Requesting,  // the tunnel request, its reply and the init message
  Opened,      // tunnel opened, init message sent, control thread running
  Up,          // the gateway declared the tunnel up: IsReady and IsConnected are true
  Lost,        // the gateway closed the control connection; the window is being told
  Halted,      // the control thread could not be started; nobody is told, the last word stands
  Stopping,    // the manager is being destroyed: every wait ends
  Stopped,     // threads joined, listeners and connections gone
};

const char* TunnelStateName(TTunnelState prmState);

// Whether prmTo may follow prmFrom. The set-up stages only move forward (a stage with nothing to
// do is skipped: no proxy, or a proxy that already carries the connection) and fall back to
// Created when one fails. A repeated state is no change; nothing leaves Stopping but Stopped, so
// a late message from the gateway cannot revive a manager that is going away.
bool IsTunnelTransitionAllowed(TTunnelState prmFrom, TTunnelState prmTo);

// InitControlConnection is in progress.
inline bool IsTunnelSettingUp(TTunnelState prmState) {
  return prmState >= TTunnelState::Proxying && prmState <= TTunnelState::Requesting;
}

// The control connection carries messages: requests may wait for answers.
inline bool IsTunnelLive(TTunnelState prmState) {
  return prmState == TTunnelState::Opened || prmState == TTunnelState::Up;
}

inline bool IsTunnelStopping(TTunnelState prmState) {
  return prmState == TTunnelState::Stopping || prmState == TTunnelState::Stopped;
}

}  // namespace vantrel
