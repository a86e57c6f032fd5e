// A relay's read as data messages, pure: the application's bytes are read straight into the
// payload slots of up to kRelayReadSize / kMaxPayload messages laid out back to back, and the
// headers are written in front of them afterwards, so one read becomes one contiguous run of
// messages (at most kMaxPayload payload bytes each) that the channel sends in one call, without
// another copy. Works for both protocols' headers.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

// What a relay reads from its application at once.
constexpr size_t kRelayReadSize = 64 * 1024;

// A protocol's client-to-gateway header: its size and encoder.
struct TWireFormat {
  int HeaderSize;
  void (*Encode)(const TLegacyAppHeader& prmHdr, uint8_t* prmOut);
};
const TWireFormat& FirstWireFormat();
const TWireFormat& LegacyWireFormat();

class TDataBatch {
 public:
  explicit TDataBatch(const TWireFormat& prmFormat, size_t prmCapacity = kRelayReadSize);

  // Where a read (readv/recvmsg) puts the application's bytes: one slot per message, in order;
  // prmCapacity bytes in all. The buffer is allocated on first use.
  const iovec* Slots();
  size_t SlotCount() const { return m_SlotCount; }

  // After prmLen bytes were read into the slots: writes the headers (code 6, prmHdr's address,
  // port and identifier, each message its own length) and returns the messages, back to back.
  std::span<const uint8_t> Seal(const TLegacyAppHeader& prmHdr, size_t prmLen);

 private:
  const TWireFormat& m_Format;
  const size_t m_SlotCount;
  std::vector<uint8_t> m_Buf;
  std::vector<iovec> m_Slots;
};

}  // namespace vantrel
