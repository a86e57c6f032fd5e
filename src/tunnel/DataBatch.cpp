#include "tunnel/DataBatch.h"

#include <algorithm>
#include <cstring>

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

size_t DataMessagesSize(const TWireFormat& prmFormat, size_t prmLen) {
  const size_t messages = (prmLen + kMaxPayload - 1) / kMaxPayload;
  return prmLen + messages * static_cast<size_t>(prmFormat.HeaderSize);
}

size_t AppendDataMessages(const TWireFormat& prmFormat, const TLegacyAppHeader& prmHdr,
                          const uint8_t* prmData, size_t prmLen, std::vector<uint8_t>& prmOut) {
  const size_t hs = static_cast<size_t>(prmFormat.HeaderSize);
  size_t at = prmOut.size();
  prmOut.resize(at + DataMessagesSize(prmFormat, prmLen));
  TLegacyAppHeader h = prmHdr;
  h.ActionCode = mcData;
  size_t count = 0;
  for (size_t off = 0; off < prmLen; off += kMaxPayload, ++count) {
    const size_t n = std::min<size_t>(kMaxPayload, prmLen - off);
    h.Len = static_cast<int32_t>(n);
    prmFormat.Encode(h, prmOut.data() + at);
    std::memcpy(prmOut.data() + at + hs, prmData + off, n);
    at += hs + n;
  }
  return count;
}

}  // namespace vantrel
