// The page's output: messages queued by any thread, framed as the channel's framing says
// (PageFraming.h), and written to the page by one writer thread, so that a slow page holds no
// caller on a pipe write.
//
// The queue is bounded (MaxBytes). A caller that finds it full waits for room: that is the
// back-pressure of a page that reads slowly. A page that leaves it full for StallMs reads no
// more: it is gone. Its queued and later lines are dropped and prmOnGone
// runs once, which ends the channel as an end of input does, so the host releases the control
// instead of blocking its window thread for ever. Nothing is dropped while the page reads.
// Once the page ended its input (Finish), what it has not read within DrainMs in all is
// dropped: the drain is bounded once, not per line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "host/vantreltcs/PageFraming.h"
#include "platform/Event.h"

namespace vantrel::host {

struct TPageOutputLimits {
  size_t MaxBytes = 4u << 20;
  int StallMs = 10000;
  int DrainMs = 1000;
};

class TPageOutput {
 public:
  // prmFd is borrowed. prmOnGone runs on the thread that found the page gone; it must only
  // post or set events.
  TPageOutput(int prmFd, std::function<void()> prmOnGone, const TPageOutputLimits& prmLimits,
              TFraming prmFraming = TFraming::Lines);
  // Finishes, lets the writer drain within the bound above, and joins it.
  ~TPageOutput();
  TPageOutput(const TPageOutput&) = delete;
  TPageOutput& operator=(const TPageOutput&) = delete;

  // Any thread. Queues prmLine, framed, in call order; false when it was dropped because the
  // page is gone or the framing cannot carry it (logged). A line larger than the queue is taken
  // alone.
  bool Write(const std::string& prmLine);
  // Whether the framing can carry prmLine at all.
  bool Fits(const std::string& prmLine) const;
  // The page ended its input: the drain deadline starts now. Idempotent, any thread.
  void Finish();
  bool Gone() const;

 private:
  void WriteThd();
  // Writes prmData whole; false when the page is gone (write failed, or no room before the
  // drain deadline).
  bool WriteAll(const std::string& prmData);
  void MarkGone(const char* prmWhy);

  const int m_Fd;
  std::function<void()> m_OnGone;
  const TPageOutputLimits m_Limits;
  const TFraming m_Framing;
  mutable std::mutex m_Lock;
  std::condition_variable m_Changed;
  std::deque<std::string> m_Lines;
  size_t m_QueuedBytes = 0;
  bool m_Stopping = false;
  bool m_Gone = false;
  std::chrono::steady_clock::time_point m_DrainDeadline{};
  TEvent m_Finished{true};
  TEvent m_GoneEvent{true};
  std::thread m_Writer;
};

}  // namespace vantrel::host
