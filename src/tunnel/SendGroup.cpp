#include "tunnel/SendGroup.h"

namespace vantrel {

TSendGroup::TSendGroup(std::recursive_mutex& prmSendLock, TWrite prmWrite)
    : m_SendLock(prmSendLock), m_Write(std::move(prmWrite)) {}

bool TSendGroup::Send(const uint8_t* prmBytes, size_t prmLen, std::string& prmError) {
  TEntry mine;
  mine.Part = {const_cast<uint8_t*>(prmBytes), prmLen};
  {
    std::lock_guard q(m_QueueLock);
    m_Queue.push_back(&mine);
  }
  std::lock_guard s(m_SendLock);
  for (;;) {
    m_Taken.clear();
    m_Parts.clear();
    {
      std::lock_guard q(m_QueueLock);
      if (mine.Done) {
        prmError = std::move(mine.Error);
        return mine.Ok;
      }
      // The queue is in arrival order and holds this caller's entry, so a few rounds at most
      // reach it.
      size_t bytes = 0;
      while (!m_Queue.empty() && (m_Taken.empty() || bytes < kMaxGroupBytes)) {
        m_Taken.push_back(m_Queue.front());
        m_Parts.push_back(m_Queue.front()->Part);
        bytes += m_Queue.front()->Part.iov_len;
        m_Queue.pop_front();
      }
    }
    // Whatever happens, every taken entry is answered: its owner no longer finds it queued.
    std::string error;
    bool ok = false;
    try {
      ok = m_Write(m_Parts.data(), m_Parts.size(), error);
    } catch (...) {
      error = "write failed";
    }
    std::lock_guard q(m_QueueLock);
    for (TEntry* e : m_Taken) {
      e->Done = true;
      e->Ok = ok;
      if (!ok) e->Error = error;
    }
  }
}

size_t TSendGroup::Waiting() const {
  std::lock_guard q(m_QueueLock);
  return m_Queue.size();
}

}  // namespace vantrel
