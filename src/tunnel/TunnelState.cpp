#include "tunnel/TunnelState.h"

namespace vantrel {

const char* TunnelStateName(TTunnelState prmState) {
  switch (prmState) {
    case TTunnelState::Created:
      return "Created";
    case TTunnelState::Connecting:
      return "Connecting";
    case TTunnelState::Opened:
      return "Opened";
    case TTunnelState::Up:
      return "Up";
    case TTunnelState::Lost:
      return "Lost";
    case TTunnelState::Halted:
      return "Halted";
    case TTunnelState::Stopping:
      return "Stopping";
    case TTunnelState::Stopped:
      return "Stopped";
  }
  return "?";
}

bool IsTunnelTransitionAllowed(TTunnelState prmFrom, TTunnelState prmTo) {
  using S = TTunnelState;
  switch (prmTo) {
    case S::Created:  // a set-up that failed
    case S::Opened:
      return prmFrom == S::Connecting;
    case S::Connecting:
      return prmFrom == S::Created;
    case S::Up:
      return prmFrom == S::Opened;
    case S::Lost:
    case S::Halted:
      return IsTunnelLive(prmFrom);
    case S::Stopping:
      return !IsTunnelStopping(prmFrom);
    case S::Stopped:
      return prmFrom == S::Stopping;
  }
  return false;
}

}  // namespace vantrel
