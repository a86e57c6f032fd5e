// How long the interactive session's keyboard and mouse have been idle. On a display the X11
// screen-saver extension answers; without one, systemd-logind's idle hint of this login session;
// otherwise the query fails. The X libraries are loaded at run time, so the control library
// stays loadable on machines without them and without a display.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace vantrel {

class ILastInputSource {
 public:
  virtual ~ILastInputSource() = default;
  // Milliseconds since the last keyboard or mouse input; false when it cannot be told. Called
  // from one thread at a time.
  virtual bool GetIdleMs(uint64_t& prmIdleMs) = 0;
};

// The source for this machine, chosen once: the X11 extension when $DISPLAY is set and the
// server offers it, else logind through loginctl (each query fails where there is neither).
std::unique_ptr<ILastInputSource> CreateLastInputSource();

// Reads "IdleHint=yes|no" and "IdleSinceHintMonotonic=<microseconds>" lines as loginctl prints
// them; prmNowMonoUs is CLOCK_MONOTONIC now. Not idle gives 0. False when a value is missing or
// malformed, or the idle start lies in the future.
bool ParseLogindIdle(std::string_view prmOutput, uint64_t prmNowMonoUs, uint64_t& prmIdleMs);

}  // namespace vantrel
