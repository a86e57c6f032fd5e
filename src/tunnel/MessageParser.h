// The gateway's messages parsed from large decrypted buffers: every complete message in a buffer
// is dispatched at once, a partial header or answer is kept for the next buffer, and data is
// delivered as it arrives, with the consecutive data of one connection handed over as one run
// (one write to its application). Pure: owns no socket and no thread; the control thread feeds it.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

// What a protocol tells the parser: its header layout and its reactions to each message.
class IControlDispatch {
 public:
  enum class TPayload { Read, None, Data };

  virtual ~IControlDispatch() = default;
  virtual int HeaderSize() const = 0;
  virtual TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const = 0;
  // First reaction, when the header is complete: how the payload is to be taken (data goes to
  // the run sink, and has no second reaction).
  virtual TPayload OnHeader(const TLegacyAppHeader& prmHdr) = 0;
  // Second reaction, when the whole message was read.
  virtual void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                         size_t prmLen) = 0;
};

class IDataRunSink {
 public:
  virtual ~IDataRunSink() = default;
  // Consecutive data for connection prmID, oldest first, prmBytes in all. The parts point into
  // the buffer being parsed and stay valid only during the call.
  virtual void OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t prmBytes) = 0;
};

class CMessageParser {
 public:
  // Parts of one run; a longer run is handed over in several calls.
  static constexpr size_t kMaxRunParts = 256;

  // prmDispatch decodes headers and gets the first and second reactions; data messages have no
  // second reaction. Both outlive the parser.
  CMessageParser(IControlDispatch& prmDispatch, IDataRunSink& prmRuns);

  // Consumes all prmLen bytes. Raises "Control : Failed to allocate memory" for a payload that
  // must be held whole and announces more than kMaxMessageLen bytes, and "Control : data length
  // out of range (N)" for data announcing more than 1 MiB; what came before it has
  // been dispatched, and the parser must not be fed again.
  void Feed(const uint8_t* prmData, size_t prmLen);

  // Bytes of an unfinished message held between Feed calls (header or a held payload).
  size_t HeldBytes() const { return static_cast<size_t>(m_HdrHeld) + m_Payload.size(); }

 private:
  // Takes the header from prmData (and what was held); false when it is still incomplete.
  bool TakeHeader(const uint8_t*& prmData, size_t& prmLen);
  void StartMessage();
  void AddRunPart(const uint8_t* prmData, size_t prmLen);
  void FlushRun();
  void Complete();

  IControlDispatch& m_Dispatch;
  IDataRunSink& m_Runs;
  uint8_t m_Hdr[kHeaderSize] = {};
  int m_HdrHeld = 0;
  TLegacyAppHeader m_Cur;
  enum class TState { Header, Data, Payload } m_State = TState::Header;
  size_t m_Left = 0;  // data or payload bytes of the current message still to come
  std::vector<uint8_t> m_Payload;
  int m_RunID = -1;
  std::vector<iovec> m_Run;
  size_t m_RunBytes = 0;
};

}  // namespace vantrel
