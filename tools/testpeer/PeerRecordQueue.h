// Plaintext waiting to go to the client, cut into TLS records. Messages are packed into the open
// record until it holds the most a record may carry, so a burst of small messages costs one
// record and one system call per 16 KiB instead of one per message; bytes queued as a record of
// their own (replies, scripted and fault-test records) keep their boundaries. Session thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

class TPeerRecordQueue {
 public:
  static constexpr size_t kMaxRecord = 16384;

  // prmBytes as one record (OpenSSL still cuts it above kMaxRecord).
  void AppendRecord(TBytes prmBytes);
  // Packed behind what the open record holds, spilling into new records as they fill.
  void Append(const uint8_t* prmData, size_t prmLen);
  // Ends the open record: nothing appended later joins it. A record handed to SSL_write must be
  // sealed first, because a retried write has to see the same bytes.
  void Seal() { m_Open = false; }

  bool Empty() const { return m_Records.empty(); }
  size_t Bytes() const { return m_Bytes; }
  const TBytes& Front() const { return m_Records.front(); }
  void PopFront();
  void Clear();

 private:
  std::deque<TBytes> m_Records;
  size_t m_Bytes = 0;
  bool m_Open = false;  // the last record still takes appended bytes
};

}  // namespace vantrel::testpeer
