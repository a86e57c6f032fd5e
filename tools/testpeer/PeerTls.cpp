#include "testpeer/PeerTls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "diag/Exceptions.h"
#include "tls/ServerTrust.h"

namespace vantrel::testpeer {

namespace {

using TPkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TX509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

struct TSelfSigned {
  TPkeyPtr Key{nullptr, EVP_PKEY_free};
  TX509Ptr Cert{nullptr, X509_free};
};

[[noreturn]] void Fail(const std::string& prmWhat) {
  throw EBaseException("TLS: " + prmWhat + " " + TakeTlsErrors());
}

}  // namespace

EVP_PKEY* NewPeerKey() {
  const char* path = std::getenv("VANTREL_TESTPEER_KEY");
  if (path == nullptr || *path == '\0') return EVP_RSA_gen(2048);
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) throw EBaseException(std::string("TLS: cannot open key ") + path);
  EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  return key;
}

namespace {

TSelfSigned MakeSelfSigned() {
  TSelfSigned s;
  s.Key.reset(NewPeerKey());
  if (!s.Key) Fail("key generation failed");
  s.Cert.reset(X509_new());
  X509* c = s.Cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 10L * 365 * 24 * 3600);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("vantrel-testpeer"), -1, -1, 0);
  X509_set_issuer_name(c, name);
  X509_set_pubkey(c, s.Key.get());
  if (X509_sign(c, s.Key.get(), EVP_sha256()) == 0) Fail("certificate signing failed");
  return s;
}

// One key for the whole process: RSA generation is slow under the sanitizers, and peers are
// created by the dozen in tests.
const TSelfSigned& ProcessSelfSigned() {
  static std::mutex lock;
  static std::unique_ptr<TSelfSigned> made;
  std::lock_guard<std::mutex> g(lock);
  if (!made) made = std::make_unique<TSelfSigned>(MakeSelfSigned());
  return *made;
}

int AcceptAnyClientCert(int, X509_STORE_CTX*) {
  return 1;
}

}  // namespace

std::string TakeTlsErrors() {
  std::string out;
  char buf[256];
  while (unsigned long e = ERR_get_error()) {
    ERR_error_string_n(e, buf, sizeof buf);
    if (!out.empty()) out += "; ";
    out += buf;
  }
  return out;
}

std::string KeyFingerprint(SSL_CTX* prmCtx) {
  return PublicKeyFingerprint(SSL_CTX_get0_certificate(prmCtx));
}

TSslCtxPtr CreateServerContext(const TTlsOptions& prmOptions) {
  TSslCtxPtr ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!ctx) Fail("cannot create a context");
  SSL_CTX* c = ctx.get();
  // The clients speak TLS 1.0, which needs security level 0 and the old cipher suites.
  SSL_CTX_set_security_level(c, 0);
  // AES-128 first, the gateway's choice among what the client offers: GCM where the version has
  // it, else CBC with SHA-1; ten AES rounds instead of fourteen keep the peer's share of a bulk
  // benchmark small. Every other suite stays available.
  SSL_CTX_set_cipher_list(c,
                          "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-SHA:AES128-GCM-SHA256:"
                          "AES128-SHA:DEFAULT:@SECLEVEL=0");
  int maxVersion = prmOptions.MaxVersion == "1.0"   ? TLS1_VERSION
                   : prmOptions.MaxVersion == "1.1" ? TLS1_1_VERSION
                                                    : TLS1_2_VERSION;
  SSL_CTX_set_min_proto_version(c, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(c, maxVersion);
  // A client that drops the connection without close_notify has simply closed it.
  // Encrypt-then-MAC is not taken up, as gateways that only speak TLS 1.0 do not know it; their
  // CBC suites then run the stitched AES-CBC-HMAC-SHA1 code on both ends.
  SSL_CTX_set_options(c, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                             SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_ENCRYPT_THEN_MAC);
  SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Several records per socket read under bulk traffic; sessions poll with SSL_has_pending in
  // mind, since records held here no longer show on the socket.
  SSL_CTX_set_read_ahead(c, 1);
  SSL_CTX_set_default_read_buffer_len(c, 64 * 1024);
  if (prmOptions.CertFile.empty()) {
    const TSelfSigned& s = ProcessSelfSigned();
    if (SSL_CTX_use_certificate(c, s.Cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(c, s.Key.get()) != 1)
      Fail("cannot use the self-signed certificate");
  } else {
    if (SSL_CTX_use_certificate_chain_file(c, prmOptions.CertFile.c_str()) != 1)
      Fail("cannot load certificate " + prmOptions.CertFile);
    std::string key = prmOptions.KeyFile.empty() ? prmOptions.CertFile : prmOptions.KeyFile;
    if (SSL_CTX_use_PrivateKey_file(c, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(c) != 1)
      Fail("cannot load private key " + key);
  }
  if (prmOptions.RequireClientCert && !prmOptions.ClientCAFile.empty()) {
    // The CA is also named in the request, as gateways do.
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(prmOptions.ClientCAFile.c_str());
    if (!names) Fail("cannot load client CA " + prmOptions.ClientCAFile);
    SSL_CTX_set_client_CA_list(c, names);
    if (SSL_CTX_load_verify_locations(c, prmOptions.ClientCAFile.c_str(), nullptr) != 1)
      Fail("cannot load client CA " + prmOptions.ClientCAFile);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  } else if (prmOptions.RequireClientCert) {
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, AcceptAnyClientCert);
  }
  return ctx;
}

std::string ClientCertSubject(SSL* prmSsl) {
  X509* cert = SSL_get1_peer_certificate(prmSsl);
  if (!cert) return "";
  char buf[512];
  X509_NAME_oneline(X509_get_subject_name(cert), buf, sizeof buf);
  X509_free(cert);
  return buf;
}

}  // namespace vantrel::testpeer
