#include "tunnel/MessageParser.h"

#include <algorithm>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

namespace {
constexpr int32_t kLargeDataLen = 10240;
constexpr int32_t kMaxDataLen = 1 << 20;
}  // namespace

CMessageParser::CMessageParser(IControlDispatch& prmDispatch, IDataRunSink& prmRuns)
    : m_Dispatch(prmDispatch), m_Runs(prmRuns) {
  m_Run.reserve(kMaxRunParts);
}

void CMessageParser::Feed(const uint8_t* prmData, size_t prmLen) {
  while (prmLen > 0) {
    if (m_State == TState::Header) {
      if (!TakeHeader(prmData, prmLen)) break;
      StartMessage();
      continue;
    }
    const size_t n = std::min(m_Left, prmLen);
    if (m_State == TState::Data)
      AddRunPart(prmData, n);
    else
      m_Payload.insert(m_Payload.end(), prmData, prmData + n);
    prmData += n;
    prmLen -= n;
    m_Left -= n;
    if (m_Left == 0) Complete();
  }
  // The parts point into this buffer: what it held goes out before the caller reuses it.
  FlushRun();
}

bool CMessageParser::TakeHeader(const uint8_t*& prmData, size_t& prmLen) {
  const int size = m_Dispatch.HeaderSize();
  const size_t n = std::min(static_cast<size_t>(size - m_HdrHeld), prmLen);
  std::memcpy(m_Hdr + m_HdrHeld, prmData, n);
  m_HdrHeld += static_cast<int>(n);
  prmData += n;
  prmLen -= n;
  return m_HdrHeld == size;
}

void CMessageParser::StartMessage() {
  m_Cur = m_Dispatch.DecodeHdr(m_Hdr);
  // Data of the connection the run belongs to extends the run; anything else ends it first,
  // so the reactions below see the connection's earlier data delivered.
  if (!(m_Cur.ActionCode == mcData && m_Cur.RemotePort == m_RunID)) FlushRun();
  switch (m_Dispatch.OnHeader(m_Cur)) {
    case IControlDispatch::TPayload::Data:
      if (m_Cur.Len > kLargeDataLen)
        WriteDebugLog("AppMng.ProcDataMsg message length is " + std::to_string(m_Cur.Len));
      // Streamed, so never held; but a length this far beyond any sender's pieces means the
      // stream is out of step, and everything after it would be read as data.
      if (m_Cur.Len > kMaxDataLen)
        throw EBaseException("Control : data length out of range (" + std::to_string(m_Cur.Len) +
                             ")");
      m_Left = static_cast<size_t>(std::max<int32_t>(m_Cur.Len, 0));
      m_State = TState::Data;
      m_RunID = m_Cur.RemotePort;
      break;
    case IControlDispatch::TPayload::None:
      m_Left = 0;
      break;
    case IControlDispatch::TPayload::Read:
      if (m_Cur.Len > kMaxMessageLen) {
        WriteDebugLog("Control : Allocation too large (" + std::to_string(m_Cur.Len) + ")");
        throw EBaseException("Control : Failed to allocate memory");
      }
      m_Left = static_cast<size_t>(std::max<int32_t>(m_Cur.Len, 0));
      m_State = TState::Payload;
      m_Payload.reserve(m_Left);
      break;
  }
  if (m_Left == 0) Complete();
}

void CMessageParser::AddRunPart(const uint8_t* prmData, size_t prmLen) {
  if (m_Run.size() == kMaxRunParts) FlushRun();
  m_RunID = m_Cur.RemotePort;
  m_Run.push_back({const_cast<uint8_t*>(prmData), prmLen});
  m_RunBytes += prmLen;
}

void CMessageParser::FlushRun() {
  if (!m_Run.empty()) m_Runs.OnDataRun(m_RunID, m_Run.data(), m_Run.size(), m_RunBytes);
  m_Run.clear();
  m_RunBytes = 0;
}

void CMessageParser::Complete() {
  if (m_State != TState::Data) {
    m_Dispatch.OnMessage(m_Cur, m_Payload.data(), m_Payload.size());
    m_Payload.clear();
    m_Payload.shrink_to_fit();
  }
  m_HdrHeld = 0;
  m_State = TState::Header;
}

}  // namespace vantrel
