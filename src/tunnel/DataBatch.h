// Bulk application data as data messages, pure: one read of up to kRelayReadSize bytes becomes
// the run of messages (at most kMaxPayload payload bytes each) that the channel sends in one call,
// so they share full TLS records and one system call. Works for both protocols' headers.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Appends to prmOut the data messages carrying prmLen bytes of prmData in order, each with
// prmHdr's address, port and identifier, code 6 and its own length. Returns the message count
// (0 for no data).
size_t AppendDataMessages(const TWireFormat& prmFormat, const TLegacyAppHeader& prmHdr,
                          const uint8_t* prmData, size_t prmLen, std::vector<uint8_t>& prmOut);

// Bytes AppendDataMessages produces for prmLen bytes, for sizing the output once.
size_t DataMessagesSize(const TWireFormat& prmFormat, size_t prmLen);

}  // namespace vantrel
