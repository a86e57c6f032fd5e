// Framing of TLS records as they arrive on the socket: the channel hands OpenSSL one whole record
// at a time, which keeps "incomplete message", leftover bytes and one-record-at-a-time reads exact.
// Pure: bytes in, verdict out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

constexpr size_t kTlsRecordHeaderLen = 5;
// Largest record body a peer may send: 2^14 plaintext bytes plus the 2048 bytes of expansion
// that the protocol allows for ciphertext.
constexpr size_t kTlsMaxRecordBody = 16384 + 2048;
constexpr size_t kTlsMaxRecordLen = kTlsRecordHeaderLen + kTlsMaxRecordBody;

enum class TRecordState { Incomplete, Complete, Invalid };

struct TRecordCheck {
  TRecordState State = TRecordState::Incomplete;
  size_t Len = 0;    // whole record (header included) when Complete
  uint8_t Type = 0;  // content type when at least the header is there
};

// Looks at the first record in prmData. Invalid: an unknown content type, a version byte that no
// TLS peer sends, or a body longer than the protocol allows.
TRecordCheck CheckRecord(const uint8_t* prmData, size_t prmLen);

}  // namespace vantrel
