// Many threads writing to one channel: each caller queues its bytes, then whoever holds the send
// lock writes everything queued so far in one call, its own bytes and what others queued while
// it waited. Messages of connections that are ready together thus share TLS records and one
// system call, while a lone caller finds only its own bytes and writes them at once. A caller's
// bytes are written in the order it queued them, and the call returns once they are written.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel {

class TSendGroup {
 public:
  // Writes prmCount parts in order as one stream; runs with the send lock held. On failure it
  // returns false with the reason in prmError.
  using TWrite = std::function<bool(const iovec* prmParts, size_t prmCount, std::string& prmError)>;
  // Most bytes one write takes from the queue, so that a crowd of senders does not turn into
  // one huge write that holds the lock for long.
  static constexpr size_t kMaxGroupBytes = 256 * 1024;

  TSendGroup(std::recursive_mutex& prmSendLock, TWrite prmWrite);

  // Queues prmLen bytes and returns once they were written, by this thread or another: the
  // result of the write that carried them. prmBytes stays untouched until then. The caller may
  // already hold the send lock. On failure prmError receives the reason.
  bool Send(const uint8_t* prmBytes, size_t prmLen, std::string& prmError);
  // Callers whose bytes wait for a writer.
  size_t Waiting() const;

 private:
  struct TEntry {
    iovec Part{};
    bool Done = false;
    bool Ok = false;
    std::string Error;
  };

  std::recursive_mutex& m_SendLock;
  TWrite m_Write;
  mutable std::mutex m_QueueLock;  // m_Queue and every queued entry's Done and Ok
  std::deque<TEntry*> m_Queue;
  // The writer's, under the send lock.
  std::vector<TEntry*> m_Taken;
  std::vector<iovec> m_Parts;
};

}  // namespace vantrel
