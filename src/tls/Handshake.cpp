// The client handshake: first step, the loop that feeds the gateway's records to OpenSSL, the
// client-certificate request and the stream sizes afterwards.
#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "platform/Dialogs.h"
#include "platform/KnownGateways.h"
#include "tls/SSPIImpl.h"
#include "tls/ServerTrust.h"
#include "tls/SocketIo.h"

namespace vantrel {

namespace {

constexpr size_t kHandshakeBufSize = 65536;
const char* const kNoCertificateText =
    "For security reasons a digital certificate is needed. No matching certificates were found";

const char* const kBoxCaption = "Error";

std::string Hex(TSecStatus prmStatus) {
  return FormatMsg("%x", {TFmtArg(prmStatus)});
}

}  // namespace

TSecStatus CSSPI::TImpl::HandshakeLoop(int prmSock, std::vector<uint8_t>& prmBuf, size_t& prmHeld,
                                       bool prmDoInitialRead, bool& prmNeedCert) {
  prmNeedCert = false;
  bool doRead = prmDoInitialRead;
  TSecStatus status = SEC_I_CONTINUE_NEEDED;
  while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
    if (prmHeld == 0 || status == SEC_E_INCOMPLETE_MESSAGE) {
      if (doRead) {
        if (prmHeld == prmBuf.size()) {
          status = SEC_E_ILLEGAL_MESSAGE;
          break;
        }
        if (!WaitReadable(prmSock, kSocketStallMs)) {
          WriteDebugLog("CSSPI.HandshakeLoop - gateway did not answer in time");
          status = SEC_E_INTERNAL_ERROR;
          break;
        }
        ssize_t n = recv(prmSock, prmBuf.data() + prmHeld, prmBuf.size() - prmHeld, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        if (n <= 0) {
          WriteDebugLog(n == 0
                            ? "CSSPI.HandshakeLoop - connection closed by gateway"
                            : "CSSPI.HandshakeLoop - recv failed, error " + std::to_string(errno));
          status = SEC_E_INTERNAL_ERROR;
          break;
        }
        prmHeld += size_t(n);
      }
      doRead = true;
    }
    size_t consumed = 0;
    status = ProcessRecord(prmBuf.data(), prmHeld, consumed);
    if (consumed > 0) {
      std::memmove(prmBuf.data(), prmBuf.data() + consumed, prmHeld - consumed);
      prmHeld -= consumed;
    }
    int err = FlushOutput(prmSock);
    if (err != 0) {
      DeleteSecurityContext();
      throw EBaseException::CreateFmt("Error %d sending data to server (2)", err);
    }
    if (status != SEC_E_INCOMPLETE_MESSAGE && status != SEC_I_CONTINUE_NEEDED)
      WriteDebugLog("CSSPI.HandshakeLoop - status " + Hex(status));
  }
  if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
    // The context stays: it waits, suspended, for the certificate.
    prmNeedCert = true;
    return status;
  }
  if (status != SEC_E_OK) DeleteSecurityContext();
  return status;
}

void CSSPI::TImpl::ShowNoCertificateBox() {
  WriteDebugLog("CSSPI.PerformHandshake - no client certificate available");
  if (m_Dialogs) m_Dialogs->MessageBox(kNoCertificateText, kBoxCaption, MB_OK | MB_ICONERROR);
}

bool CSSPI::PerformHandshake(int prmSock, const std::string& prmDest, int prmDeviceType) {
  TImpl& d = *m_Impl;
  if (!d.m_RecvBuf.empty()) throw EBaseException("Failed to Initialize Security Context");
  if (prmDeviceType != d.m_DeviceType) d.InitCred(prmDeviceType);
  WriteDebugLog("CSSPI.PerformHandshake - " + prmDest);
  std::vector<uint8_t> buf;
  try {
    buf.resize(kHandshakeBufSize);
  } catch (const std::bad_alloc&) {
    throw EBaseException("Out of memeory");
  }
  size_t held = 0;
  bool needCert = false;
  bool retried = false;
  for (;;) {
    bool doInitialRead = true;
    if (needCert) {
      TClientCertificate cert;
      TCertChoice choice =
          d.m_Chooser ? d.m_Chooser->ChooseCertificate(cert) : TCertChoice::NoneInStore;
      if (choice == TCertChoice::Chosen && (!cert.Cert || !cert.Key)) {
        WriteDebugLog("CSSPI.PerformHandshake - chosen certificate has no private key");
        choice = TCertChoice::Cancelled;
      }
      if (choice != TCertChoice::Chosen) {
        if (choice == TCertChoice::NoneInStore) d.ShowNoCertificateBox();
        d.DeleteSecurityContext();
        return false;
      }
      {
        std::lock_guard<std::mutex> lock(d.m_SslCS);
        d.m_KeyOwner = cert.KeyOwner;
        d.m_PendingCert = std::move(cert);
      }
      // The suspended handshake goes on with the certificate; its next step needs no new bytes.
      doInitialRead = false;
    } else {
      if (!d.StartContext(prmDest)) throw EBaseException("Failed to Initialize Security Context");
      int err = d.FlushOutput(prmSock);
      if (err != 0) {
        d.DeleteSecurityContext();
        throw EBaseException::CreateFmt("Error %d sending data to gateway (1)", err);
      }
    }
    TSecStatus status = d.HandshakeLoop(prmSock, buf, held, doInitialRead, needCert);
    if (status == SEC_E_OK) break;
    if (needCert && !retried) {
      retried = true;
      continue;
    }
    if (needCert) d.DeleteSecurityContext();
    return false;
  }
  // The handshake is through but nothing of the session has gone out: an untrusted gateway
  // ends here.
  TTrustVerdict verdict = DecideServerTrust(d.m_Ctx.get(), prmDest, d.m_GatewayPort,
                                            d.m_TrustDialogs, TKnownGateways());
  if (!verdict.Accepted) {
    d.DeleteSecurityContext();
    throw EBaseException("The gateway's certificate is not trusted: " + verdict.Reason);
  }
  d.m_AcceptedKey = verdict.Fingerprint;

  TStreamSizes sizes;
  {
    std::lock_guard<std::mutex> lock(d.m_SslCS);
    sizes = d.QueryStreamSizes();
    WriteDebugLog(std::string("CSSPI.PerformHandshake - ") + SSL_get_version(d.m_Ctx.get()) + " " +
                  SSL_get_cipher_name(d.m_Ctx.get()));
    d.m_PendingCert = TClientCertificate();  // OpenSSL keeps its own reference
  }
  sizes.cbMaximumMessage = 32768;
  g_StreamSizes = sizes;
  // Bytes that followed the last handshake record are the first of the receive buffer; a larger
  // remainder than the usual buffer grows it rather than being cut. Room for several full
  // records: a bulk reader gets what a busy socket holds with few system calls.
  constexpr size_t kRecvBufSize = 256 * 1024;
  size_t size = std::max<size_t>(
      {sizes.cbHeader + sizes.cbTrailer + sizes.cbMaximumMessage, kRecvBufSize, held});
  try {
    d.m_RecvBuf.assign(size, 0);
  } catch (const std::bad_alloc&) {
    throw EBaseException("Out of memory (2)");
  }
  std::memcpy(d.m_RecvBuf.data(), buf.data(), held);
  d.m_RecvBufSize = held;
  if (held > 0)
    WriteDebugLog("CSSPI.PerformHandshake - " + std::to_string(held) +
                  " bytes follow the handshake");
  return true;
}

}  // namespace vantrel
