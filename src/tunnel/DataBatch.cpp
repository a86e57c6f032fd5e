#include "tunnel/DataBatch.h"

namespace vantrel {

TDataBatch::TDataBatch(int prmHeaderSize, size_t prmCapacity)
    : m_HeaderSize(static_cast<size_t>(prmHeaderSize)),
      m_SlotCount((std::max<size_t>(prmCapacity, 1) + kMaxPayload - 1) / kMaxPayload) {}

const iovec* TDataBatch::Slots() {
  if (m_Slots.empty()) {
    m_Buf.resize(m_SlotCount * (m_HeaderSize + kMaxPayload));
    for (size_t i = 0; i < m_SlotCount; ++i)
      m_Slots.push_back({m_Buf.data() + i * (m_HeaderSize + kMaxPayload) + m_HeaderSize,
                         static_cast<size_t>(kMaxPayload)});
  }
  return m_Slots.data();
}

}  // namespace vantrel
