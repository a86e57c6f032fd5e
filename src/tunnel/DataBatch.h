// A relay's read as data messages, pure: the application's bytes are read straight into the
// payload slots of up to kRelayReadSize / kMaxPayload messages laid out back to back, and the
// headers are written in front of them afterwards, so one read becomes one contiguous run of
// messages (at most kMaxPayload payload bytes each) that the channel sends in one call, without
// another copy. Works for either protocol's header: the caller passes its size and encoder.
#pragma once

#include <sys/uio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

// What a relay reads from its application at once.
constexpr size_t kRelayReadSize = 64 * 1024;

class TDataBatch {
 public:
  explicit TDataBatch(int prmHeaderSize, size_t prmCapacity = kRelayReadSize);

  // Where a read (readv/recvmsg) puts the application's bytes: one slot per message, in order;
  // prmCapacity bytes in all. The buffer is allocated on first use.
  const iovec* Slots();
  size_t SlotCount() const { return m_SlotCount; }

  // After prmLen bytes were read into the slots: writes each message's header with
  // prmEncode(header, where) (code 6, prmHdr's address, port and identifier, the message's own
  // length) and returns the messages, back to back.
  template <typename TEncode>
  std::span<const uint8_t> Seal(const TLegacyAppHeader& prmHdr, size_t prmLen, TEncode prmEncode) {
    prmLen = std::min(prmLen, m_SlotCount * kMaxPayload);
    if (prmLen == 0 || m_Slots.empty()) return {};
    TLegacyAppHeader h = prmHdr;
    h.ActionCode = mcData;
    // Every full message has the same header: encoded once and copied, not once per message.
    uint8_t full[kHeaderSize];
    bool haveFull = false;
    size_t at = 0;
    for (size_t off = 0; off < prmLen; off += kMaxPayload) {
      h.Len = static_cast<int32_t>(std::min<size_t>(kMaxPayload, prmLen - off));
      if (h.Len < kMaxPayload) {
        prmEncode(h, m_Buf.data() + at);
      } else {
        if (!haveFull) prmEncode(h, full);
        haveFull = true;
        std::memcpy(m_Buf.data() + at, full, m_HeaderSize);
      }
      at += m_HeaderSize + static_cast<size_t>(h.Len);
    }
    return {m_Buf.data(), at};
  }

 private:
  const size_t m_HeaderSize;
  const size_t m_SlotCount;
  std::vector<uint8_t> m_Buf;
  std::vector<iovec> m_Slots;
};

}  // namespace vantrel
