#include "testpeer/PeerRecordQueue.h"

#include <algorithm>

namespace vantrel::testpeer {

void TPeerRecordQueue::AppendRecord(TBytes prmBytes) {
  if (prmBytes.empty()) return;
  m_Bytes += prmBytes.size();
  m_Records.push_back(std::move(prmBytes));
  m_Open = false;
}

void TPeerRecordQueue::Append(const uint8_t* prmData, size_t prmLen) {
  m_Bytes += prmLen;
  while (prmLen > 0) {
    if (!m_Open || m_Records.back().size() == kMaxRecord) {
      m_Records.emplace_back();
      m_Records.back().reserve(kMaxRecord);
      m_Open = true;
    }
    TBytes& rec = m_Records.back();
    const size_t n = std::min(kMaxRecord - rec.size(), prmLen);
    rec.insert(rec.end(), prmData, prmData + n);
    prmData += n;
    prmLen -= n;
  }
}

void TPeerRecordQueue::PopFront() {
  m_Bytes -= m_Records.front().size();
  m_Records.pop_front();
  if (m_Records.empty()) m_Open = false;
}

void TPeerRecordQueue::Clear() {
  m_Records.clear();
  m_Bytes = 0;
  m_Open = false;
}

}  // namespace vantrel::testpeer
