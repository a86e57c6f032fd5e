// A real OpenSSL server on loopback for the channel's tests: one connection per instance, served
// by a thread that runs the test's script once the handshake is done.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tls/CertChooser.h"

namespace vantrel::test {

enum class TCertKind { SelfSigned, Expired, OtherName };

// A fresh key and certificate for prmCommonName; generated at run time, never stored.
TClientCertificate MakeCertificate(const std::string& prmCommonName,
                                   TCertKind prmKind = TCertKind::SelfSigned);

struct TServerOptions {
  int MinVersion = TLS1_VERSION;
  int MaxVersion = TLS1_3_VERSION;
  TCertKind Cert = TCertKind::SelfSigned;
  bool RequestClientCert = false;
  // Sent as application data in the same write as the server's last handshake flight, so the
  // client finds it behind its handshake's final record.
  std::string DataWithFinished;
};

TServerOptions VersionRange(int prmMin, int prmMax);
TServerOptions WithCertificate(TCertKind prmKind);
// TLS 1.2 at most (a client certificate in 1.3 comes after the handshake).
TServerOptions AskingForClientCertificate();

// The accepted connection as the script sees it; blocking socket.
struct TServerConn {
  SSL* Ssl = nullptr;
  int Sock = -1;

  // Encrypts each piece as its own record and sends all of them with one send().
  void WriteCoalesced(const std::vector<std::string>& prmPieces);
  // Encrypts prmData as records without sending them; the bytes as they would go on the wire.
  std::string Encrypt(const std::string& prmData);
  void SendRaw(const std::string& prmBytes);
  // Reads until prmTotal plaintext bytes came; one entry per record (read-ahead is off).
  std::vector<int> ReadRecords(size_t prmTotal, std::string* prmData = nullptr);

  // Sends a hello request (TLS 1.2). Reads then return after each handshake record, so the
  // script can see with Renegotiated when the client's new handshake is through.
  bool StartRenegotiation();
  bool Renegotiated() const;

  std::string FinishedBefore;
};

class TTlsTestServer {
 public:
  using TScript = std::function<void(TServerConn&)>;
  explicit TTlsTestServer(TServerOptions prmOptions = {}, TScript prmScript = {});
  ~TTlsTestServer();

  // A client socket connected to this server.
  int Connect(bool prmNonBlocking = false);
  // Waits for the serving thread (the script included) to end.
  void Join();

  bool Accepted() const { return m_Accepted; }
  std::string Version() const { return m_Version; }
  std::string PeerSubject() const { return m_PeerSubject; }
  std::string SniName() const { return m_Sni; }

 private:
  void Serve();

  TServerOptions m_Options;
  TScript m_Script;
  int m_Listen = -1;
  std::thread m_Thread;
  std::atomic<bool> m_Accepted{false};
  std::string m_Version, m_PeerSubject, m_Sni;
};

}  // namespace vantrel::test
