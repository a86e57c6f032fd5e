// The requests that wait for the gateway's answer (host resolution, user name, password, timers)
// and the connection-ready answers to open requests. One request of each kind at a time; a wait
// ends with the answer, or with the failure value when the link is lost or stopping, or when the
// gateway stays silent past the timeout (the link then counts as lost).
//
// Lock: m_Lock guards every slot and the connection-ready count; it is never held while a
// request is sent, and nothing else is taken under it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Event.h"

namespace vantrel {

class TRequestTable {
 public:
  enum TKind { rkHost, rkUserName, rkPassword, rkTimers, rkKinds };
  // An answer: a number or two (address, timers) or a text (name, password).
  struct TAnswer {
    uint32_t First = 0;
    uint32_t Second = 0;
    std::string Text;
  };
  using TSilent = std::function<void(const std::string& prmWhy)>;
  // What the connection-ready wait reads the time from; a test puts a clock that runs ahead in
  // its place so it need not sit out the wait.
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  // prmLost (signalled while the link is not live) outlives the table; prmSilent is told when
  // an answer did not come in time.
  TRequestTable(const TEvent& prmLost, TSilent prmSilent);

  // How long a request may wait for its answer.
  void SetTimeout(int prmTimeoutMs);
  void SetClock(TClock prmClock);
  // Sends with prmSend (false: not sent) and waits for the answer of kind prmKind; prmFailure
  // when it was not sent or did not come.
  TAnswer Ask(TKind prmKind, const TAnswer& prmFailure, const std::function<bool()>& prmSend);
  // The control thread's answer; kept for the request waiting (or the next one) of its kind.
  void Answer(TKind prmKind, TAnswer prmAnswer);
  // The link's state changed: waits re-check it.
  void Wake();
  // Returns once no request is waiting; the link must be lost or stopping.
  void Drain();

  // Connection-ready answers counted; an open request waits for the count to move.
  uint64_t ReadyCount() const;
  void SignalReady();
  // Waits up to prmTimeoutMs for the count to move past prmSeen; true when it did. Ends early
  // when the link is lost or prmGiveUp says so (checked every few hundred milliseconds).
  bool WaitReady(uint64_t prmSeen, int prmTimeoutMs, const std::function<bool()>& prmGiveUp);

  static constexpr int kDefaultTimeoutMs = 30000;

 private:
  struct TSlot {
    bool Busy = false;
    bool Signalled = false;
    TAnswer Value;
  };

  const TEvent& m_Lost;
  TSilent m_Silent;
  mutable std::mutex m_Lock;
  std::condition_variable m_Cv;
  TSlot m_Slots[rkKinds];
  uint64_t m_ReadyCount = 0;
  int m_TimeoutMs = kDefaultTimeoutMs;
  TClock m_Clock = [] { return std::chrono::steady_clock::now(); };
};

}  // namespace vantrel
