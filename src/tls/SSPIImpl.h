// Inside of CSSPI, shared by the files that implement it (context set-up, handshake, records).
// OpenSSL works on the channel's BIOs: the channel itself moves bytes between the socket and
// OpenSSL, one whole TLS record at a time, so the receive buffer and the plaintext queue behave
// exactly as the channel's contract describes.
#pragma once

#include <openssl/ssl.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tls/CertChooser.h"
#include "tls/ChannelBios.h"
#include "tls/RecvQueue.h"
#include "tls/SecStatus.h"
#include "tls/TlsHandle.h"
#include "tls/sspi.h"

namespace vantrel {

struct CSSPI::TImpl {
  explicit TImpl(int prmDeviceType);
  ~TImpl();

  // --- credential and context (TlsContext.cpp) ---
  // Builds m_Cred for the device type. A failure is not reported here: the next handshake fails
  // to start instead.
  void InitCred(int prmDeviceType);
  // The first handshake step: a fresh context whose ClientHello waits in the output BIO.
  bool StartContext(const std::string& prmDest);
  void DeleteSecurityContext();
  // Computes the stream sizes of the negotiated protocol and cipher (caller holds SslCS).
  TStreamSizes QueryStreamSizes() const;
  static int ClientCertCallback(SSL* prmSsl, X509** prmCert, EVP_PKEY** prmKey);

  // --- record processing (Records.cpp) ---
  // Hands the first whole record of prmData to OpenSSL and collects what it yields: plaintext
  // into the queue, handshake progress as a status. prmLen 0 only lets a suspended handshake go
  // on. prmConsumed tells how many bytes were taken from the front. With prmDirect, plaintext
  // goes there first (up to prmRoom bytes, their count added to prmDirectGot) while the queue is
  // empty, which saves a bulk reader two copies; the rest is queued behind it.
  TSecStatus ProcessRecord(const uint8_t* prmData, size_t prmLen, size_t& prmConsumed,
                           uint8_t* prmDirect = nullptr, size_t prmRoom = 0,
                           size_t* prmDirectGot = nullptr);
  // Sends everything OpenSSL has queued for the peer, in the order it was produced, whichever
  // thread produced it. 0 or the errno of the failed send (sticky: the stream is broken then).
  int FlushOutput(int prmSock);
  // Encrypts one chunk into the output BIO, waiting while a renegotiation runs.
  TSecStatus EncryptChunk(const uint8_t* prmData, size_t prmLen);

  // --- handshake (Handshake.cpp) ---
  // Drives the handshake with the bytes held in prmBuf (prmHeld of them) and reads more from the
  // socket as needed. prmHeld is left with the bytes that followed the handshake.
  TSecStatus HandshakeLoop(int prmSock, std::vector<uint8_t>& prmBuf, size_t& prmHeld,
                           bool prmDoInitialRead, bool& prmNeedCert);
  void ShowNoCertificateBox();
  // Of the certificate the gateway presented last; empty without a context.
  std::string PeerKeyFingerprint() const;

  // --- receiving (sspi.cpp) ---
  bool Recv(int prmSock, uint8_t* prmBuf, int prmLen, int& prmRecvd, bool prmOneRecord);

  int m_DeviceType;
  ICertificateChooser* m_Chooser = nullptr;
  IDialogs* m_Dialogs = nullptr;
  // Gateway trust (ServerTrust.h): the port pins are kept under, who is asked, what was accepted.
  int m_GatewayPort = 443;
  IDialogs* m_TrustDialogs = nullptr;
  std::string m_AcceptedKey;
  // Declared before the OpenSSL objects so that it outlives them: they hold the key.
  std::shared_ptr<void> m_KeyOwner;

  // OpenSSL objects. One thread may send while another receives, and an SSL object takes one
  // caller at a time: every call into it holds m_SslCS, which is never held across socket I/O or
  // a wait for the user.
  mutable std::mutex m_SslCS;
  std::condition_variable m_HandshakeCV;  // senders wait here while a renegotiation runs
  TSslCtxPtr m_Cred;
  // What the input BIO gives OpenSSL: the record being processed, in the receive buffer.
  TInputWindow m_Input;
  TSslPtr m_Ctx;  // owns the input BIO and the output BIO
  // Offered to the gateway by the certificate callback once the user chose it.
  TClientCertificate m_PendingCert;

  // Serialises draining the output BIO with writing it to the socket, so records reach the wire
  // in the order OpenSSL numbered them.
  std::mutex m_OutCS;
  int m_OutError = 0;
  // Records OpenSSL wrote (the output BIO appends here, under m_SslCS), and those being sent
  // (under m_OutCS); swapped, never copied.
  std::vector<uint8_t> m_Cipher;
  std::vector<uint8_t> m_Sending;
  // Sending thread only: a record's plaintext gathered from several parts.
  std::vector<uint8_t> m_SendStage;

  // Receive side: one receiving thread at a time, no lock needed.
  std::vector<uint8_t> m_RecvBuf;  // empty until the handshake succeeded
  size_t m_RecvBufSize = 0;
  bool m_SocketDrained = false;
  bool m_PeerClosed = false;
  // Drops prmCount bytes from the front of the receive buffer.
  void DropReceived(size_t prmCount);
  TRecvQueue m_RecvdBufs;
};

}  // namespace vantrel
