// The control thread's message reader: assembles headers and payloads from whatever pieces the
// source returns and hands complete messages to the protocol's dispatch. It owns no socket; the
// source is the TLS channel in the manager and a byte array in the fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

class IControlSource {
 public:
  static constexpr int kClosed = -1;
  enum class TWait { Ready, Timeout, Stopped };

  virtual ~IControlSource() = default;
  // Up to prmLen bytes: their count, 0 when nothing is available now, kClosed when the peer has
  // closed the connection. Raises EBaseException when receiving or decrypting failed.
  virtual int Read(uint8_t* prmBuf, int prmLen) = 0;
  // Waits up to prmTimeoutMs until there may be something to read (or the peer closed).
  virtual TWait Wait(int prmTimeoutMs) = 0;
};

class IControlDispatch {
 public:
  enum class TPayload { Read, None, Data };

  virtual ~IControlDispatch() = default;
  virtual int HeaderSize() const = 0;
  virtual TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const = 0;
  // First reaction, when the header is complete: how the payload is to be taken.
  virtual TPayload OnHeader(const TLegacyAppHeader& prmHdr) = 0;
  // One piece (at most kMaxPayload bytes) of a data message for connection prmID.
  virtual void OnData(int prmID, const uint8_t* prmBuf, int prmLen) = 0;
  // Second reaction, when the whole message was read.
  virtual void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                         size_t prmLen) = 0;
};

// One Read with the failure accounting of the control thread: a read that raised is logged and
// counts as "nothing now", and after kMaxReadFailures of them in a row the connection counts as
// lost (kClosed). prmFailures carries the count between calls.
int ReadCounted(IControlSource& prmSource, uint8_t* prmBuf, int prmLen, int& prmFailures);

class CControlReader {
 public:
  enum class TStep { Progress, Idle, Closed, Stopped };
  // After this many reads in a row that raised, the connection counts as lost: a persistent
  // failure must not keep the control thread spinning.
  static constexpr int kMaxReadFailures = 8;

  CControlReader(IControlSource& prmSource, IControlDispatch& prmDispatch);

  // One read of header or payload bytes, dispatching whatever became complete. A data payload is
  // read to its end (waiting on the source) before this returns. Raises "Control : Failed to
  // allocate memory" for a length above kMaxMessageLen.
  TStep Step();

 private:
  int ReadCounted(uint8_t* prmBuf, int prmLen) {
    return vantrel::ReadCounted(m_Source, prmBuf, prmLen, m_Failures);
  }
  TStep ReadData(const TLegacyAppHeader& prmHdr);
  void Complete();

  IControlSource& m_Source;
  IControlDispatch& m_Dispatch;
  uint8_t m_Hdr[kHeaderSize] = {};
  int m_HdrHeld = 0;
  TLegacyAppHeader m_Cur;
  bool m_InPayload = false;
  std::vector<uint8_t> m_Payload;
  size_t m_PayloadHeld = 0;
  int m_Failures = 0;
};

}  // namespace vantrel
