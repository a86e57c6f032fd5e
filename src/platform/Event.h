// Events that can join a poll() set: each one is an eventfd, readable while it is signalled, so a
// thread can wait on sockets and its stop request at once and never has to be killed.
#pragma once

#include <chrono>
#include <initializer_list>

#include "diag/UniqueFd.h"

namespace vantrel {

class TEvent {
 public:
  // Manual reset: stays signalled until Reset. Auto reset: one successful Wait consumes it.
  explicit TEvent(bool prmManualReset, bool prmInitialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // prmTimeoutMs < 0 waits without limit. True when signalled (and consumed for auto reset).
  bool Wait(int prmTimeoutMs);
  int Fd() const { return m_Fd.Get(); }
  bool ManualReset() const { return m_Manual; }

  // After poll() reported Fd() readable: consumes an auto-reset signal; true if this caller got it.
  bool TryConsume();

 private:
  TUniqueFd m_Fd;
  bool m_Manual;
};

// Waits for the first of prmEvents to be signalled; returns its index or -1 on timeout.
int WaitForAny(std::initializer_list<TEvent*> prmEvents, int prmTimeoutMs);

// Milliseconds left until prmDeadline (0 when passed); for loops of bounded waits.
int MsLeft(std::chrono::steady_clock::time_point prmDeadline);

}  // namespace vantrel
