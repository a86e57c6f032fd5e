// CSSPI: construction, sending and receiving over the established channel.
#include "tls/sspi.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "tls/SSPIImpl.h"
#include "tls/TlsRecord.h"

namespace vantrel {

CSSPI::TImpl::TImpl(int prmDeviceType) : m_DeviceType(prmDeviceType) {
  InitCred(prmDeviceType);
}

CSSPI::TImpl::~TImpl() {
  m_RecvdBufs.Clear();
}

CSSPI::CSSPI(int prmDeviceType) : m_Impl(std::make_unique<TImpl>(prmDeviceType)) {}

CSSPI::~CSSPI() = default;

void CSSPI::SetCertificateChooser(ICertificateChooser* prmChooser) {
  m_Impl->m_Chooser = prmChooser;
}

void CSSPI::SetDialogs(IDialogs* prmDialogs) {
  m_Impl->m_Dialogs = prmDialogs;
}

bool CSSPI::SendSec(int prmSock, const void* prmBuf, int prmLen) {
  TImpl& d = *m_Impl;
  if (prmLen < 0 || (prmLen > 0 && !prmBuf))
    throw EBaseException::CreateFmt("Send : Encryption failed %d", int32_t(SEC_E_INTERNAL_ERROR));
  // OpenSSL never emits an application record without payload; an empty record would carry
  // nothing the peer could see, so a zero-length send writes nothing and succeeds.
  if (prmLen == 0) return true;
  const auto* data = static_cast<const uint8_t*>(prmBuf);
  size_t chunkMax = std::max<uint32_t>(g_StreamSizes.cbMaximumMessage, 1);
  // Every record first, then one write for all of them: a batch of messages costs one system
  // call, not one per record.
  size_t offset = 0;
  while (offset < size_t(prmLen)) {
    size_t chunk = std::min(size_t(prmLen) - offset, chunkMax);
    TSecStatus status = d.EncryptChunk(data + offset, chunk);
    if (SecFailed(status))
      throw EBaseException::CreateFmt("Send : Encryption failed %d", int32_t(status));
    offset += chunk;
  }
  int err = d.FlushOutput(prmSock);
  if (err != 0)
    throw EBaseException::CreateFmt("Send : Error %d while sending data to the gateway", err);
  return true;
}

bool CSSPI::RecvSec(int prmSock, void* prmBuf, int prmLen, int& prmRecvd) {
  return m_Impl->Recv(prmSock, static_cast<uint8_t*>(prmBuf), prmLen, prmRecvd, false);
}

bool CSSPI::RecvSec2(int prmSock, void* prmBuf, int prmLen, int& prmRecvd) {
  return m_Impl->Recv(prmSock, static_cast<uint8_t*>(prmBuf), prmLen, prmRecvd, true);
}

size_t CSSPI::QueuedPlaintext() const {
  return m_Impl->m_RecvdBufs.Size();
}

size_t CSSPI::PendingCiphertext() const {
  return m_Impl->m_RecvBufSize;
}

bool CSSPI::HasBufferedData() const {
  const TImpl& d = *m_Impl;
  if (d.m_RecvdBufs.Size() > 0) return true;
  // An invalid record counts too: the next read reports it instead of waiting.
  return d.m_RecvBufSize > 0 &&
         CheckRecord(d.m_RecvBuf.data(), d.m_RecvBufSize).State != TRecordState::Incomplete;
}

bool CSSPI::TImpl::Recv(int prmSock, uint8_t* prmBuf, int prmLen, int& prmRecvd,
                        bool prmOneRecord) {
  prmRecvd = 0;
  if (m_RecvBuf.empty()) throw EBaseException("CSSPI.RecvSec : No global buffer is allocated");
  size_t want = prmLen > 0 && prmBuf ? size_t(prmLen) : 0;
  size_t got = m_RecvdBufs.GetRecvdData(prmBuf, want);
  prmRecvd = int(got);
  TSecStatus status = SEC_E_OK;
  for (;;) {
    if (got == want) return true;
    if (m_RecvBufSize == 0 || status == SEC_E_INCOMPLETE_MESSAGE) {
      if (m_RecvBufSize == m_RecvBuf.size())
        throw EBaseException::CreateFmt("Recv : Error %x while decrypting data",
                                        SEC_E_ILLEGAL_MESSAGE);
      ssize_t n =
          recv(prmSock, m_RecvBuf.data() + m_RecvBufSize, m_RecvBuf.size() - m_RecvBufSize, 0);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        if (errno == EINTR) continue;
        throw EBaseException::CreateFmt(
            "CSSPI.RecvSec : Error %x while reading data from the gateway", errno);
      }
      if (n == 0) return true;
      m_RecvBufSize += size_t(n);
    }
    size_t consumed = 0;
    size_t queuedBefore = m_RecvdBufs.Size();
    status = ProcessRecord(m_RecvBuf.data(), m_RecvBufSize, consumed);
    bool carriedData = m_RecvdBufs.Size() > queuedBefore;
    if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      throw EBaseException::CreateFmt("Recv : Error %x while decrypting data", status);
    std::memmove(m_RecvBuf.data(), m_RecvBuf.data() + consumed, m_RecvBufSize - consumed);
    m_RecvBufSize -= consumed;
    if (status == SEC_I_RENEGOTIATE) {
      WriteDebugLog("CSSPI.RecvSec - gateway renegotiates");
      bool needCert = false;
      try {
        TSecStatus rs = HandshakeLoop(prmSock, m_RecvBuf, m_RecvBufSize, false, needCert);
        // A certificate request here is not answered: the renegotiation fails and the
        // context goes with it, so the next decryption reports the error.
        if (needCert) DeleteSecurityContext();
        if (rs != SEC_E_OK) WriteDebugLog("CSSPI.RecvSec - renegotiation failed");
      } catch (const EBaseException&) {
        throw EBaseException::CreateFmt("Recv : Error while %x negotiating", status);
      }
    } else {
      // Alerts OpenSSL produced while reading go to the peer; a failure shows on the next send.
      FlushOutput(prmSock);
    }
    got += m_RecvdBufs.GetRecvdData(prmBuf + got, want - got);
    prmRecvd = int(got);
    // An empty record (sent by some servers before each record as a CBC countermeasure) does
    // not end a one-record read: the caller wants the peer's next message, not nothing.
    if (prmOneRecord && status == SEC_E_OK && carriedData) return true;
  }
}

}  // namespace vantrel
