#include "tls/RecvQueue.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

void TRecvQueue::PutRecvdBuf(const uint8_t* prmData, size_t prmLen) {
  if (prmLen == 0) return;
  TRecvdBuf chunk;
  chunk.Data.assign(prmData, prmData + prmLen);
  std::lock_guard<std::mutex> lock(m_RecvdBufsCS);
  m_RecvdBufs.push_back(std::move(chunk));
  m_Total += prmLen;
}

size_t TRecvQueue::GetRecvdData(uint8_t* prmDest, size_t prmWant) {
  std::lock_guard<std::mutex> lock(m_RecvdBufsCS);
  size_t got = 0;
  while (prmWant > 0 && !m_RecvdBufs.empty()) {
    TRecvdBuf& chunk = m_RecvdBufs.front();
    size_t n = std::min(chunk.Data.size() - chunk.Pos, prmWant);
    std::memcpy(prmDest + got, chunk.Data.data() + chunk.Pos, n);
    chunk.Pos += n;
    got += n;
    prmWant -= n;
    m_Total -= n;
    if (chunk.Pos == chunk.Data.size()) m_RecvdBufs.pop_front();
  }
  return got;
}

size_t TRecvQueue::Size() const {
  std::lock_guard<std::mutex> lock(m_RecvdBufsCS);
  return m_Total;
}

void TRecvQueue::Clear() {
  std::lock_guard<std::mutex> lock(m_RecvdBufsCS);
  m_RecvdBufs.clear();
  m_Total = 0;
}

}  // namespace vantrel
