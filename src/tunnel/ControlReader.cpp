#include "tunnel/ControlReader.h"

#include <algorithm>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

namespace {
constexpr int kDataWaitMs = 1000;
constexpr int32_t kLargeDataLen = 10240;
}  // namespace

CControlReader::CControlReader(IControlSource& prmSource, IControlDispatch& prmDispatch)
    : m_Source(prmSource), m_Dispatch(prmDispatch) {}

int ReadCounted(IControlSource& prmSource, uint8_t* prmBuf, int prmLen, int& prmFailures) {
  try {
    int n = prmSource.Read(prmBuf, prmLen);
    prmFailures = 0;
    return n;
  } catch (const EBaseException& e) {
    WriteDebugLog("ControlConThd Exception (" + e.GetMsg() + ")");
  }
  return ++prmFailures >= CControlReader::kMaxReadFailures ? IControlSource::kClosed : 0;
}

void CControlReader::Complete() {
  m_Dispatch.OnMessage(m_Cur, m_Payload.data(), m_PayloadHeld);
  m_Payload.clear();
  m_Payload.shrink_to_fit();
  m_PayloadHeld = 0;
  m_HdrHeld = 0;
  m_InPayload = false;
}

CControlReader::TStep CControlReader::Step() {
  if (m_InPayload) {
    int n = ReadCounted(m_Payload.data() + m_PayloadHeld,
                        static_cast<int>(m_Payload.size() - m_PayloadHeld));
    if (n == IControlSource::kClosed) return TStep::Closed;
    if (n == 0) return TStep::Idle;
    m_PayloadHeld += static_cast<size_t>(n);
    if (m_PayloadHeld == m_Payload.size()) Complete();
    return TStep::Progress;
  }
  const int size = m_Dispatch.HeaderSize();
  int n = ReadCounted(m_Hdr + m_HdrHeld, size - m_HdrHeld);
  if (n == IControlSource::kClosed) return TStep::Closed;
  if (n == 0) return TStep::Idle;
  m_HdrHeld += n;
  if (m_HdrHeld < size) return TStep::Progress;

  m_Cur = m_Dispatch.DecodeHdr(m_Hdr);
  switch (m_Dispatch.OnHeader(m_Cur)) {
    case IControlDispatch::TPayload::Data: {
      TStep r = ReadData(m_Cur);
      if (r != TStep::Progress) return r;
      Complete();
      return TStep::Progress;
    }
    case IControlDispatch::TPayload::None:
      Complete();
      return TStep::Progress;
    case IControlDispatch::TPayload::Read:
      break;
  }
  if (m_Cur.Len <= 0) {
    Complete();
    return TStep::Progress;
  }
  if (m_Cur.Len > kMaxMessageLen) {
    WriteDebugLog("Control : Allocation too large (" + std::to_string(m_Cur.Len) + ")");
    throw EBaseException("Control : Failed to allocate memory");
  }
  m_Payload.assign(static_cast<size_t>(m_Cur.Len), 0);
  m_PayloadHeld = 0;
  m_InPayload = true;
  return TStep::Progress;
}

CControlReader::TStep CControlReader::ReadData(const TLegacyAppHeader& prmHdr) {
  if (prmHdr.Len > kLargeDataLen)
    WriteDebugLog("AppMng.ProcDataMsg message length is " + std::to_string(prmHdr.Len));
  int64_t remaining = std::max<int32_t>(prmHdr.Len, 0);
  uint8_t buf[kMaxPayload];
  while (remaining > 0) {
    int piece = static_cast<int>(std::min<int64_t>(remaining, kMaxPayload));
    int n = ReadCounted(buf, piece);
    if (n == IControlSource::kClosed) return TStep::Closed;
    if (n == 0) {
      // Bounded by the stop request: the payload arrives or the manager goes away.
      if (m_Source.Wait(kDataWaitMs) == IControlSource::TWait::Stopped) return TStep::Stopped;
      continue;
    }
    m_Dispatch.OnData(prmHdr.RemotePort, buf, n);
    remaining -= n;
  }
  return TStep::Progress;
}

}  // namespace vantrel
