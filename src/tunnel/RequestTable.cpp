#include "tunnel/RequestTable.h"

#include <algorithm>
#include <chrono>

namespace vantrel {

namespace {
constexpr int kReadyStepMs = 200;
}  // namespace

TRequestTable::TRequestTable(const TEvent& prmLost, TSilent prmSilent)
    : m_Lost(prmLost), m_Silent(std::move(prmSilent)) {}

void TRequestTable::SetTimeout(int prmTimeoutMs) {
  std::lock_guard g(m_Lock);
  m_TimeoutMs = prmTimeoutMs;
}

void TRequestTable::SetClock(TClock prmClock) {
  std::lock_guard g(m_Lock);
  m_Clock = std::move(prmClock);
}

TRequestTable::TAnswer TRequestTable::Ask(TKind prmKind, const TAnswer& prmFailure,
                                          const std::function<bool()>& prmSend) {
  TSlot& slot = m_Slots[prmKind];
  std::unique_lock g(m_Lock);
  // The one before of this kind ends within its own bound.
  m_Cv.wait(g, [&] { return !slot.Busy; });
  slot.Busy = true;
  slot.Value = prmFailure;
  const int timeoutMs = m_TimeoutMs;
  g.unlock();
  const bool sent = !m_Lost.IsSet() && prmSend();
  g.lock();
  TAnswer answer = prmFailure;
  if (sent) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (m_Cv.wait_until(g, deadline, [&] { return slot.Signalled || m_Lost.IsSet(); })) {
      if (slot.Signalled) answer = std::move(slot.Value);
    } else {
      g.unlock();
      m_Silent("no answer within " + std::to_string(timeoutMs) + " ms");
      g.lock();
    }
  }
  slot.Signalled = false;
  slot.Busy = false;
  m_Cv.notify_all();
  return answer;
}

void TRequestTable::Answer(TKind prmKind, TAnswer prmAnswer) {
  {
    std::lock_guard g(m_Lock);
    m_Slots[prmKind].Value = std::move(prmAnswer);
    m_Slots[prmKind].Signalled = true;
  }
  m_Cv.notify_all();
}

void TRequestTable::Wake() {
  { std::lock_guard g(m_Lock); }
  m_Cv.notify_all();
}

void TRequestTable::Drain() {
  std::unique_lock g(m_Lock);
  m_Cv.wait(g, [&] {
    return std::none_of(std::begin(m_Slots), std::end(m_Slots),
                        [](const TSlot& prmSlot) { return prmSlot.Busy; });
  });
}

uint64_t TRequestTable::ReadyCount() const {
  std::lock_guard g(m_Lock);
  return m_ReadyCount;
}

void TRequestTable::SignalReady() {
  {
    std::lock_guard g(m_Lock);
    ++m_ReadyCount;
  }
  m_Cv.notify_all();
}

bool TRequestTable::WaitReady(uint64_t prmSeen, int prmTimeoutMs,
                              const std::function<bool()>& prmGiveUp) {
  std::unique_lock g(m_Lock);
  const auto deadline = m_Clock() + std::chrono::milliseconds(prmTimeoutMs);
  auto msLeft = [&] {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_Clock()).count());
  };
  // Steps, so that a lost link or prmGiveUp end the wait too.
  while (m_ReadyCount == prmSeen && !m_Lost.IsSet() && !prmGiveUp() && msLeft() > 0)
    m_Cv.wait_for(g, std::chrono::milliseconds(std::clamp(msLeft(), 1, kReadyStepMs)));
  return m_ReadyCount != prmSeen;
}

}  // namespace vantrel
