// Gateway data waiting for one application, bounded. The control thread writes what the socket
// takes at once and keeps the rest here, so an application that reads slowly holds up nobody
// until kBound bytes wait for it; above the bound the caller stalls on it (waits until the
// application takes bytes), as a plain blocking write would. Not locked: its connection guards it.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vantrel {

class TConnOutput {
 public:
  static constexpr size_t kBound = 4u << 20;
  static constexpr size_t kChunk = 64u << 10;
  enum class TResult { Done, Pending, Failed };

  // Queued bytes first, then prmParts in order, with one non-blocking sendmsg per attempt; what
  // the socket does not take now is copied and kept. Done: nothing is left queued. Failed: the
  // socket refused (Error() tells why); the queue is dropped.
  TResult Write(int prmFd, const iovec* prmParts, size_t prmCount);
  // Writes queued bytes (when the socket became writable).
  TResult Flush(int prmFd);

  size_t Queued() const { return m_Queued; }
  bool OverBound() const { return m_Queued > kBound; }
  int Error() const { return m_Error; }

 private:
  void Keep(const uint8_t* prmData, size_t prmLen);
  // Sends prmParts without waiting; the count taken, or -1 (m_Error set) on failure.
  ssize_t Send(int prmFd, const iovec* prmParts, size_t prmCount);
  TResult Fail();

  std::deque<std::vector<uint8_t>> m_Chunks;
  size_t m_Offset = 0;  // bytes of the front chunk already written
  size_t m_Queued = 0;
  int m_Error = 0;
};

}  // namespace vantrel
