// CSSPI: TLS client channel over a socket the caller connected and owns, built on OpenSSL. Its
// callers rely on its contract: the plaintext queue, leftover bytes, partial reads on non-blocking
// sockets, a single library load and the stream sizes.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel {

// Header, trailer, maximum message size, buffer count, block size; shared by all channels, the
// most recent handshake wins.
struct TStreamSizes {
  uint32_t cbHeader = 100;
  uint32_t cbTrailer = 30;
  uint32_t cbMaximumMessage = 1024;
  uint32_t cBuffers = 0;
  uint32_t cbBlockSize = 0;
};
extern TStreamSizes g_StreamSizes;
void ResetStreamSizes();

// Raises "Security library is already loaded" while another tunnel manager holds it.
void LoadSecurityLibrary();
void UnloadSecurityLibrary();

class ICertificateChooser;  // tls/CertChooser.h
class IDialogs;             // platform/Dialogs.h

struct TRecvdBuf {
  std::vector<uint8_t> Data;
  size_t Pos = 0;
};

class CSSPI {
 public:
  // prmDeviceType 1: TLS 1.0 only; anything else: TLS 1.0 and 1.2 (never 1.1 or 1.3).
  explicit CSSPI(int prmDeviceType);
  ~CSSPI();
  CSSPI(const CSSPI&) = delete;
  CSSPI& operator=(const CSSPI&) = delete;

  // Where a client certificate comes from when the gateway asks for one; none: the handshake
  // follows the "no certificate" path. Not owned.
  void SetCertificateChooser(ICertificateChooser* prmChooser);
  // Where the handshake shows its message box when no certificate can be offered; without one the
  // text only reaches the debug log. Not owned; used on the handshake thread.
  void SetDialogs(IDialogs* prmDialogs);
  // The gateway's port (the key under which an accepted certificate is remembered; 443 unless
  // set) and who is asked about a certificate that cannot be verified (none: it is refused).
  // prmAsk is not owned; used on the handshake thread.
  void SetGatewayTrust(int prmPort, IDialogs* prmAsk);
  // The fingerprint of the gateway key the last handshake accepted; empty before.
  std::string AcceptedKeyFingerprint() const;

  // Once, on a connected socket (blocking or not) that the caller owns. True: ready for data.
  // False: no handshake (refused protocol, closed socket, no client certificate, silent gateway
  // for a minute); the context is gone. Raises the channel's texts on send failures, and a text
  // naming the reason when the gateway's certificate is not trusted (nothing was sent then).
  bool PerformHandshake(int prmSock, const std::string& prmDest, int prmDeviceType);
  // Writes all prmLen bytes (records of at most 2^14 plaintext bytes); 0 bytes writes nothing.
  // One sending thread at a time; may run while another thread receives.
  bool SendSec(int prmSock, const void* prmBuf, int prmLen);
  // As SendSec for the concatenation of prmCount parts: records are filled across part
  // boundaries, so many small parts still go out in full records and one write.
  bool SendSecV(int prmSock, const iovec* prmParts, size_t prmCount);
  // Up to prmLen plaintext bytes; returns true also when the socket would block or the peer
  // closed, with prmRecvd possibly below prmLen (0 too). Errors raise.
  bool RecvSec(int prmSock, void* prmBuf, int prmLen, int& prmRecvd);
  // As RecvSec, but also returns once one record carrying data was decrypted; later records stay
  // undecrypted in the receive buffer.
  bool RecvSec2(int prmSock, void* prmBuf, int prmLen, int& prmRecvd);

  // Bytes decrypted but not yet taken. With PendingCiphertext, tells a reader that waits on the
  // socket whether data is already here (the socket will not signal it again).
  size_t QueuedPlaintext() const;
  // Ciphertext received but not yet decrypted: a partial record, or whole records RecvSec2 left.
  size_t PendingCiphertext() const;
  // True when RecvSec would make progress without new bytes from the socket: plaintext queued,
  // or a whole record held. A reader that waits on the socket checks this first. Receiving
  // thread only.
  bool HasBufferedData() const;
  // How the last receive left the socket, so a reader knows whether to wait on it before reading
  // again: drained (the socket had nothing more to give at that moment) and closed by the peer
  // (for good). Receiving thread only.
  bool SocketDrained() const;
  bool PeerClosed() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> m_Impl;
};

}  // namespace vantrel
