#include "tunnel/DataBatch.h"

#include <algorithm>

#include "tunnel/LegacyWire.h"

namespace vantrel {

const TWireFormat& FirstWireFormat() {
  static const TWireFormat format{kHeaderSize, &EncodeHeader};
  return format;
}

const TWireFormat& LegacyWireFormat() {
  static const TWireFormat format{kLegacyHeaderSize, &EncodeLegacyHeader};
  return format;
}

TDataBatch::TDataBatch(const TWireFormat& prmFormat, size_t prmCapacity)
    : m_Format(prmFormat),
      m_SlotCount((std::max<size_t>(prmCapacity, 1) + kMaxPayload - 1) / kMaxPayload) {}

const iovec* TDataBatch::Slots() {
  if (m_Slots.empty()) {
    const size_t hs = static_cast<size_t>(m_Format.HeaderSize);
    m_Buf.resize(m_SlotCount * (hs + kMaxPayload));
    for (size_t i = 0; i < m_SlotCount; ++i)
      m_Slots.push_back({m_Buf.data() + i * (hs + kMaxPayload) + hs, kMaxPayload});
  }
  return m_Slots.data();
}

std::span<const uint8_t> TDataBatch::Seal(const TLegacyAppHeader& prmHdr, size_t prmLen) {
  const size_t hs = static_cast<size_t>(m_Format.HeaderSize);
  prmLen = std::min(prmLen, m_SlotCount * kMaxPayload);
  if (prmLen == 0 || m_Slots.empty()) return {};
  TLegacyAppHeader h = prmHdr;
  h.ActionCode = mcData;
  size_t at = 0;
  for (size_t off = 0; off < prmLen; off += kMaxPayload) {
    h.Len = static_cast<int32_t>(std::min<size_t>(kMaxPayload, prmLen - off));
    m_Format.Encode(h, m_Buf.data() + at);
    at += hs + static_cast<size_t>(h.Len);
  }
  return {m_Buf.data(), at};
}

}  // namespace vantrel
