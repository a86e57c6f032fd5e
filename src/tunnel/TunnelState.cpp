#include "tunnel/TunnelState.h"

namespace vantrel {

const char* TunnelStateName(TTunnelState prmState) {
  static const char* const kNames[] = {"Created",    "Proxying", "Connecting", "Securing",
                                       "Requesting", "Opened",   "Up",         "Lost",
                                       "Halted",     "Stopping", "Stopped"};
  const auto i = static_cast<unsigned>(prmState);
  return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "?";
}

bool IsTunnelTransitionAllowed(TTunnelState prmFrom, TTunnelState prmTo) {
  using S = TTunnelState;
  switch (prmTo) {
    case S::Created:  // a set-up that failed
      return IsTunnelSettingUp(prmFrom);
    case S::Proxying:
    case S::Connecting:
    case S::Securing:
    case S::Requesting:
    case S::Opened:
      return (prmFrom == S::Created || IsTunnelSettingUp(prmFrom)) && prmFrom < prmTo &&
             (prmFrom != S::Created || prmTo <= S::Connecting);
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
