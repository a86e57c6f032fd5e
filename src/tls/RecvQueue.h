// The plaintext queue: decrypted bytes no caller has taken yet, oldest first. Guarded by its own
// lock because the destructor and a receiving thread may meet here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "tls/sspi.h"

namespace vantrel {

class TRecvQueue {
 public:
  // Appends a private copy of prmLen bytes (an empty chunk is not kept).
  void PutRecvdBuf(const uint8_t* prmData, size_t prmLen);
  // Copies up to prmWant bytes to prmDest; a request may span chunks and a chunk may serve
  // several requests. Returns the count copied.
  size_t GetRecvdData(uint8_t* prmDest, size_t prmWant);
  size_t Size() const;
  void Clear();

 private:
  mutable std::mutex m_RecvdBufsCS;
  std::deque<TRecvdBuf> m_RecvdBufs;
  size_t m_Total = 0;
};

}  // namespace vantrel
