// Moving records between the socket and OpenSSL: one record in, plaintext or handshake progress
// out; encrypted output drained to the socket in production order.
#include <openssl/err.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "tls/SSPIImpl.h"
#include "tls/SocketIo.h"
#include "tls/TlsRecord.h"

namespace vantrel {

namespace {

void LogSslErrors(const char* prmWhere) {
  unsigned long e;
  char text[256];
  while ((e = ERR_get_error()) != 0) {
    ERR_error_string_n(e, text, sizeof(text));
    WriteDebugLog(std::string(prmWhere) + " - " + text);
  }
}

// A sender waits at most this long for a renegotiation run by the receiving thread; the
// receiver's own waits are bounded by the socket stall limit, so this is a backstop.
constexpr auto kRenegotiationWait = std::chrono::milliseconds(2 * kSocketStallMs);

}  // namespace

TSecStatus CSSPI::TImpl::ProcessRecord(const uint8_t* prmData, size_t prmLen, size_t& prmConsumed,
                                       uint8_t* prmDirect, size_t prmRoom, size_t* prmDirectGot) {
  prmConsumed = 0;
  TSecStatus status;
  {
    std::lock_guard<std::mutex> lock(m_SslCS);
    if (!m_Ctx) return SEC_E_INVALID_HANDLE;
    if (prmLen > 0) {
      TRecordCheck rec = CheckRecord(prmData, prmLen);
      if (rec.State == TRecordState::Invalid) return SEC_E_ILLEGAL_MESSAGE;
      if (rec.State == TRecordState::Incomplete) return SEC_E_INCOMPLETE_MESSAGE;
      // OpenSSL reads the record where it lies; what it leaves is copied aside below, before
      // the receive buffer moves.
      m_Input.Show(prmData, rec.Len);
      prmConsumed = rec.Len;
    }
    struct TKeepRest {
      TInputWindow& Input;
      ~TKeepRest() { Input.Keep(); }
    } keepRest{m_Input};
    bool wasInInit = SSL_in_init(m_Ctx.get());
    uint8_t plain[SSL3_RT_MAX_PLAIN_LENGTH];
    size_t direct = 0;
    // A read that gives data leaves the error queue as it was: clearing it once is enough.
    ERR_clear_error();
    for (;;) {
      // Straight to the caller while nothing older waits in the queue: order stays as it came.
      const bool toCaller = prmDirect && direct < prmRoom && m_RecvdBufs.Size() == 0;
      uint8_t* to = toCaller ? prmDirect + direct : plain;
      const size_t room = toCaller ? std::min(prmRoom - direct, sizeof(plain)) : sizeof(plain);
      int n = SSL_read(m_Ctx.get(), to, int(room));
      if (n > 0) {
        if (toCaller)
          direct += size_t(n);
        else
          m_RecvdBufs.PutRecvdBuf(plain, size_t(n));
        continue;
      }
      if (prmDirectGot) *prmDirectGot += direct;
      switch (SSL_get_error(m_Ctx.get(), n)) {
        case SSL_ERROR_WANT_READ:
          if (!SSL_in_init(m_Ctx.get()))
            status = SEC_E_OK;
          else
            status = wasInInit ? SEC_I_CONTINUE_NEEDED : SEC_I_RENEGOTIATE;
          break;
        case SSL_ERROR_ZERO_RETURN:
          status = SEC_I_CONTEXT_EXPIRED;
          break;
        case SSL_ERROR_WANT_X509_LOOKUP:
          status = SEC_I_INCOMPLETE_CREDENTIALS;
          break;
        default:
          LogSslErrors("CSSPI.ProcessRecord");
          status = wasInInit ? SEC_E_INTERNAL_ERROR : SEC_E_DECRYPT_FAILURE;
          break;
      }
      break;
    }
    if (m_DeviceType != 1 && SSL_version(m_Ctx.get()) == TLS1_1_VERSION) {
      WriteDebugLog("CSSPI.ProcessRecord - gateway chose TLS 1.1, which is not enabled");
      status = SEC_E_INTERNAL_ERROR;
    }
  }
  m_HandshakeCV.notify_all();
  return status;
}

void CSSPI::TImpl::DropReceived(size_t prmCount) {
  if (prmCount == 0) return;
  std::memmove(m_RecvBuf.data(), m_RecvBuf.data() + prmCount, m_RecvBufSize - prmCount);
  m_RecvBufSize -= prmCount;
}

int CSSPI::TImpl::FlushOutput(int prmSock) {
  {
    std::lock_guard<std::mutex> lock(m_SslCS);
    if (!m_Ctx || m_Cipher.empty()) return 0;
  }
  std::lock_guard<std::mutex> out(m_OutCS);
  if (m_OutError != 0) return m_OutError;
  {
    std::lock_guard<std::mutex> lock(m_SslCS);
    if (!m_Ctx) return 0;
    m_Sending.swap(m_Cipher);
  }
  m_OutError = SendAll(prmSock, m_Sending.data(), m_Sending.size());
  m_Sending.clear();
  return m_OutError;
}

TSecStatus CSSPI::TImpl::EncryptChunk(const uint8_t* prmData, size_t prmLen) {
  std::unique_lock<std::mutex> lock(m_SslCS);
  bool ready = m_HandshakeCV.wait_for(lock, kRenegotiationWait,
                                      [this] { return !m_Ctx || !SSL_in_init(m_Ctx.get()); });
  if (!m_Ctx) return SEC_E_INVALID_HANDLE;
  if (!ready) return SEC_E_INTERNAL_ERROR;
  ERR_clear_error();
  size_t written = 0;
  if (SSL_write_ex(m_Ctx.get(), prmData, prmLen, &written) != 1 || written != prmLen) {
    LogSslErrors("CSSPI.SendSec");
    return SEC_E_INTERNAL_ERROR;
  }
  return SEC_E_OK;
}

}  // namespace vantrel
