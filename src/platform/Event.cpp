#include "platform/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace vantrel {

TEvent::TEvent(bool prmManualReset, bool prmInitialState) : m_Manual(prmManualReset) {
  m_Fd.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!m_Fd) throw std::system_error(errno, std::generic_category(), "eventfd");
  if (prmInitialState) Set();
}

void TEvent::Set() {
  // The counter only needs to be non-zero; never let repeated Sets overflow it.
  if (IsSet()) return;
  uint64_t one = 1;
  ssize_t r = write(m_Fd.Get(), &one, sizeof one);
  (void)r;
}

void TEvent::Reset() {
  uint64_t v;
  ssize_t r = read(m_Fd.Get(), &v, sizeof v);
  (void)r;
}

bool TEvent::IsSet() const {
  pollfd p{m_Fd.Get(), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool TEvent::TryConsume() {
  if (m_Manual) return IsSet();
  uint64_t v;
  return read(m_Fd.Get(), &v, sizeof v) == sizeof v;
}

int MsLeft(std::chrono::steady_clock::time_point prmDeadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      prmDeadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int WaitForAny(std::initializer_list<TEvent*> prmEvents, int prmTimeoutMs) {
  // Nothing could ever end an unlimited wait on no events.
  if (prmEvents.size() == 0) return -1;
  std::vector<pollfd> fds;
  for (TEvent* e : prmEvents) fds.push_back(pollfd{e->Fd(), POLLIN, 0});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  for (;;) {
    int wait = prmTimeoutMs < 0 ? -1 : MsLeft(deadline);
    int r = poll(fds.data(), fds.size(), wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    int i = 0;
    for (TEvent* e : prmEvents) {
      if ((fds[i].revents & POLLIN) && e->TryConsume()) return i;
      ++i;
    }
    // Another waiter took an auto-reset signal first; wait on for what is left.
    if (prmTimeoutMs >= 0 && MsLeft(deadline) == 0) return -1;
  }
}

bool TEvent::Wait(int prmTimeoutMs) {
  return WaitForAny({this}, prmTimeoutMs) == 0;
}

}  // namespace vantrel
