#include "tls/TlsTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "testpeer/PeerTls.h"

namespace vantrel::test {

namespace {

constexpr int kAcceptWaitMs = 20000;

EVP_PKEY* SharedKey() {
  // The reference peers' key: the clients of every test pin it (support/TestEnv.cpp).
  static EVP_PKEY* key = testpeer::NewPeerKey();
  return key;
}

void SendPending(BIO* prmOut, int prmSock) {
  std::string bytes(BIO_ctrl_pending(prmOut), '\0');
  if (bytes.empty()) return;
  BIO_read(prmOut, bytes.data(), int(bytes.size()));
  TServerConn conn;
  conn.Sock = prmSock;
  conn.SendRaw(bytes);
}

// The handshake over memory BIOs, so the final flight and prmData leave in one send().
bool AcceptWithData(SSL* prmSsl, int prmSock, const std::string& prmData) {
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  BIO_set_mem_eof_return(in, -1);
  SSL_set_bio(prmSsl, in, out);
  SSL_set_accept_state(prmSsl);
  char buf[16384];
  while (SSL_do_handshake(prmSsl) != 1) {
    if (SSL_get_error(prmSsl, -1) != SSL_ERROR_WANT_READ) return false;
    SendPending(out, prmSock);
    pollfd p{prmSock, POLLIN, 0};
    ssize_t n = poll(&p, 1, kAcceptWaitMs) == 1 ? recv(prmSock, buf, sizeof(buf), 0) : -1;
    if (n <= 0) return false;
    BIO_write(in, buf, int(n));
  }
  SSL_write(prmSsl, prmData.data(), int(prmData.size()));
  SendPending(out, prmSock);
  BIO* sock = BIO_new_socket(prmSock, BIO_NOCLOSE);
  SSL_set_bio(prmSsl, sock, sock);
  return true;
}

}  // namespace

TClientCertificate MakeCertificate(const std::string& prmCommonName, TCertKind prmKind) {
  TClientCertificate res;
  EVP_PKEY* key = SharedKey();
  EVP_PKEY_up_ref(key);
  res.Key.reset(key);
  X509* x = X509_new();
  res.Cert.reset(x);
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  if (prmKind == TCertKind::Expired) {
    X509_gmtime_adj(X509_getm_notBefore(x), -3600L * 24 * 30);
    X509_gmtime_adj(X509_getm_notAfter(x), -3600L * 24);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24);
  }
  std::string cn = prmKind == TCertKind::OtherName ? "other.example" : prmCommonName;
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509_set_issuer_name(x, name);
  X509_set_pubkey(x, key);
  X509_sign(x, key, EVP_sha256());
  return res;
}

TServerOptions VersionRange(int prmMin, int prmMax) {
  TServerOptions o;
  o.MinVersion = prmMin;
  o.MaxVersion = prmMax;
  return o;
}

TServerOptions WithCertificate(TCertKind prmKind) {
  TServerOptions o;
  o.Cert = prmKind;
  return o;
}

TServerOptions AskingForClientCertificate() {
  TServerOptions o = VersionRange(TLS1_VERSION, TLS1_2_VERSION);
  o.RequestClientCert = true;
  return o;
}

void TServerConn::WriteCoalesced(const std::vector<std::string>& prmPieces) {
  std::string all;
  for (const auto& p : prmPieces) all += Encrypt(p);
  SendRaw(all);
}

std::string TServerConn::Encrypt(const std::string& prmData) {
  BIO* sockBio = SSL_get_wbio(Ssl);
  BIO_up_ref(sockBio);
  BIO* mem = BIO_new(BIO_s_mem());
  SSL_set0_wbio(Ssl, mem);
  size_t written = 0;
  SSL_write_ex(Ssl, prmData.data(), prmData.size(), &written);
  std::string bytes(BIO_ctrl_pending(mem), '\0');
  BIO_read(mem, bytes.data(), int(bytes.size()));
  SSL_set0_wbio(Ssl, sockBio);
  return bytes;
}

void TServerConn::SendRaw(const std::string& prmBytes) {
  size_t done = 0;
  while (done < prmBytes.size()) {
    ssize_t n = send(Sock, prmBytes.data() + done, prmBytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += size_t(n);
  }
}

std::vector<int> TServerConn::ReadRecords(size_t prmTotal, std::string* prmData) {
  std::vector<int> sizes;
  std::vector<char> buf(65536);
  size_t got = 0;
  while (got < prmTotal) {
    int n = SSL_read(Ssl, buf.data(), int(buf.size()));
    if (n <= 0) break;
    sizes.push_back(n);
    if (prmData) prmData->append(buf.data(), size_t(n));
    got += size_t(n);
  }
  return sizes;
}

namespace {
std::string PeerFinished(SSL* prmSsl) {
  unsigned char buf[64];
  size_t n = SSL_get_peer_finished(prmSsl, buf, sizeof(buf));
  return std::string(reinterpret_cast<char*>(buf), std::min(n, sizeof(buf)));
}
}  // namespace

bool TServerConn::StartRenegotiation() {
  FinishedBefore = PeerFinished(Ssl);
  SSL_clear_mode(Ssl, SSL_MODE_AUTO_RETRY);
  return SSL_renegotiate(Ssl) == 1 && SSL_do_handshake(Ssl) == 1;
}

bool TServerConn::Renegotiated() const {
  return PeerFinished(Ssl) != FinishedBefore;
}

TTlsTestServer::TTlsTestServer(TServerOptions prmOptions, TScript prmScript)
    : m_Options(prmOptions), m_Script(std::move(prmScript)) {
  m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(m_Listen, 4) != 0)
    throw std::runtime_error("test server cannot listen");
  m_Thread = std::thread([this] { Serve(); });
}

TTlsTestServer::~TTlsTestServer() {
  Join();
  close(m_Listen);
}

void TTlsTestServer::Join() {
  if (m_Thread.joinable()) m_Thread.join();
}

int TTlsTestServer::Connect(bool prmNonBlocking) {
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  getsockname(m_Listen, reinterpret_cast<sockaddr*>(&a), &len);
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
    throw std::runtime_error("test client cannot connect");
  if (prmNonBlocking) fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  return s;
}

void TTlsTestServer::Serve() {
  pollfd p{m_Listen, POLLIN, 0};
  if (poll(&p, 1, kAcceptWaitMs) != 1) return;
  int sock = accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
  if (sock < 0) return;
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_set_security_level(ctx, 0);
  SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
  SSL_CTX_set_min_proto_version(ctx, m_Options.MinVersion);
  SSL_CTX_set_max_proto_version(ctx, m_Options.MaxVersion);
  TClientCertificate own = MakeCertificate("gateway.test", m_Options.Cert);
  SSL_CTX_use_certificate(ctx, own.Cert.get());
  SSL_CTX_use_PrivateKey(ctx, own.Key.get());
  if (m_Options.RequestClientCert)
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, sock);
  bool accepted = m_Options.DataWithFinished.empty()
                      ? SSL_accept(ssl) == 1
                      : AcceptWithData(ssl, sock, m_Options.DataWithFinished);
  if (accepted) {
    m_Accepted = true;
    m_Version = SSL_get_version(ssl);
    const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    m_Sni = sni ? sni : "";
    if (X509* peer = SSL_get1_peer_certificate(ssl)) {
      char line[256];
      X509_NAME_oneline(X509_get_subject_name(peer), line, sizeof(line));
      m_PeerSubject = line;
      X509_free(peer);
    }
    TServerConn conn;
    conn.Ssl = ssl;
    conn.Sock = sock;
    if (m_Script) m_Script(conn);
    SSL_shutdown(ssl);
  }
  ERR_clear_error();
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  close(sock);
}

}  // namespace vantrel::test
