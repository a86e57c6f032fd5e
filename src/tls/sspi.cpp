// CSSPI: construction, sending and receiving over the established channel.
#include "tls/sspi.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "tls/SSPIImpl.h"
#include "tls/ServerTrust.h"
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

std::string CSSPI::TImpl::PeerKeyFingerprint() const {
  std::lock_guard<std::mutex> lock(m_SslCS);
  return m_Ctx ? PublicKeyFingerprint(SSL_get0_peer_certificate(m_Ctx.get())) : std::string();
}

void CSSPI::SetGatewayTrust(int prmPort, IDialogs* prmAsk) {
  m_Impl->m_GatewayPort = prmPort;
  m_Impl->m_TrustDialogs = prmAsk;
}

std::string CSSPI::AcceptedKeyFingerprint() const {
  return m_Impl->m_AcceptedKey;
}

bool CSSPI::SendSec(int prmSock, const void* prmBuf, int prmLen) {
  if (prmLen < 0 || (prmLen > 0 && !prmBuf))
    throw EBaseException::CreateFmt("Send : Encryption failed %d", int32_t(SEC_E_INTERNAL_ERROR));
  iovec part{const_cast<void*>(prmBuf), size_t(prmLen)};
  return SendSecV(prmSock, &part, 1);
}

bool CSSPI::SendSecV(int prmSock, const iovec* prmParts, size_t prmCount) {
  TImpl& d = *m_Impl;
  size_t total = 0;
  for (size_t i = 0; i < prmCount; ++i) {
    if (prmParts[i].iov_len > 0 && !prmParts[i].iov_base)
      throw EBaseException::CreateFmt("Send : Encryption failed %d", int32_t(SEC_E_INTERNAL_ERROR));
    total += prmParts[i].iov_len;
  }
  // OpenSSL never emits an application record without payload; an empty record would carry
  // nothing the peer could see, so a zero-length send writes nothing and succeeds.
  if (total == 0) return true;
  const size_t chunkMax = std::max<uint32_t>(g_StreamSizes.cbMaximumMessage, 1);
  // Every record first, then one write for all of them: a batch of messages costs one system
  // call, not one per record. A chunk lying inside one part is encrypted where it is; one that
  // spans parts is gathered first.
  size_t part = 0;
  size_t at = 0;  // offset inside prmParts[part]
  // The next contiguous bytes of the stream, at most prmMax of them.
  auto next = [&](size_t prmMax) {
    while (prmParts[part].iov_len == at) {
      ++part;
      at = 0;
    }
    const size_t n = std::min(prmMax, prmParts[part].iov_len - at);
    const uint8_t* p = static_cast<const uint8_t*>(prmParts[part].iov_base) + at;
    at += n;
    return std::make_pair(p, n);
  };
  for (size_t left = total; left > 0;) {
    const size_t chunk = std::min(left, chunkMax);
    auto [plain, n] = next(chunk);
    if (n < chunk) {
      d.m_SendStage.resize(chunkMax);
      std::memcpy(d.m_SendStage.data(), plain, n);
      for (size_t got = n; got < chunk; got += n) {
        std::tie(plain, n) = next(chunk - got);
        std::memcpy(d.m_SendStage.data() + got, plain, n);
      }
      plain = d.m_SendStage.data();
    }
    TSecStatus status = d.EncryptChunk(plain, chunk);
    if (SecFailed(status))
      throw EBaseException::CreateFmt("Send : Encryption failed %d", int32_t(status));
    left -= chunk;
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

bool CSSPI::SocketDrained() const {
  return m_Impl->m_SocketDrained;
}

bool CSSPI::PeerClosed() const {
  return m_Impl->m_PeerClosed;
}

bool CSSPI::TImpl::Recv(int prmSock, uint8_t* prmBuf, int prmLen, int& prmRecvd,
                        bool prmOneRecord) {
  prmRecvd = 0;
  if (m_RecvBuf.empty()) throw EBaseException("CSSPI.RecvSec : No global buffer is allocated");
  size_t want = prmLen > 0 && prmBuf ? size_t(prmLen) : 0;
  size_t got = m_RecvdBufs.GetRecvdData(prmBuf, want);
  prmRecvd = int(got);
  // Records processed from the front of the receive buffer; the rest moves to the front once,
  // when the call ends or needs the room, instead of after every record.
  struct TFront {
    TImpl& Impl;
    size_t Done = 0;
    void Drop() {
      Impl.DropReceived(Done);
      Done = 0;
    }
    ~TFront() { Drop(); }
  } front{*this};
  TSecStatus status = SEC_E_OK;
  bool drained = false;
  for (;;) {
    if (got == want) return true;
    if (m_RecvBufSize == front.Done || status == SEC_E_INCOMPLETE_MESSAGE) {
      front.Drop();
      if (m_RecvBufSize == m_RecvBuf.size())
        throw EBaseException::CreateFmt("Recv : Error %x while decrypting data",
                                        SEC_E_ILLEGAL_MESSAGE);
      // A read that left room took everything the socket had: another one now would only find
      // it empty. Only a caller with nothing yet tries again (and may block for it).
      if (drained && got > 0) return true;
      const size_t room = m_RecvBuf.size() - m_RecvBufSize;
      ssize_t n = recv(prmSock, m_RecvBuf.data() + m_RecvBufSize, room, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        m_SocketDrained = true;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        throw EBaseException::CreateFmt(
            "CSSPI.RecvSec : Error %x while reading data from the gateway", errno);
      }
      drained = size_t(n) < room;
      m_SocketDrained = drained;
      if (n == 0) {
        m_PeerClosed = true;
        return true;
      }
      m_RecvBufSize += size_t(n);
    }
    size_t consumed = 0;
    size_t direct = 0;
    size_t queuedBefore = m_RecvdBufs.Size();
    status = ProcessRecord(m_RecvBuf.data() + front.Done, m_RecvBufSize - front.Done, consumed,
                           prmBuf + got, want - got, &direct);
    bool carriedData = direct > 0 || m_RecvdBufs.Size() > queuedBefore;
    got += direct;
    prmRecvd = int(got);
    if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      throw EBaseException::CreateFmt("Recv : Error %x while decrypting data", status);
    front.Done += consumed;
    if (status == SEC_I_RENEGOTIATE) {
      front.Drop();
      WriteDebugLog("CSSPI.RecvSec - gateway renegotiates");
      bool needCert = false;
      try {
        TSecStatus rs = HandshakeLoop(prmSock, m_RecvBuf, m_RecvBufSize, false, needCert);
        // A certificate request here is not answered: the renegotiation fails and the
        // context goes with it, so the next decryption reports the error.
        if (needCert) DeleteSecurityContext();
        if (rs != SEC_E_OK) WriteDebugLog("CSSPI.RecvSec - renegotiation failed");
        // The trust decision was about the key of the first handshake: another one ends the
        // channel the same way.
        if (rs == SEC_E_OK && PeerKeyFingerprint() != m_AcceptedKey) {
          WriteDebugLog("CSSPI.RecvSec - the gateway's key changed in a renegotiation");
          DeleteSecurityContext();
        }
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
