// TLS server side of the reference peers: one SSL_CTX with the peer's certificate, open to the
// old protocol versions the tunnel's clients use.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace vantrel::testpeer {

struct TTlsOptions {
  std::string CertFile, KeyFile;  // empty: the process's self-signed certificate
  bool RequireClientCert = false;
  std::string MaxVersion = "1.2";
  // With RequireClientCert: only certificates issued by this CA (PEM) are taken; empty: any.
  std::string ClientCAFile;
};

using TSslCtxPtr = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
using TSslPtr = std::unique_ptr<SSL, decltype(&SSL_free)>;

// The key of VANTREL_TESTPEER_KEY (a PEM file) when set, so that every peer of a test run, in
// the test's process or started as a program, shows one key its clients can pin; else a new RSA
// key. Owned by the caller; null when the file holds no key.
EVP_PKEY* NewPeerKey();

// Raises EBaseException when a file cannot be loaded or OpenSSL refuses a setting.
TSslCtxPtr CreateServerContext(const TTlsOptions& prmOptions);

// SHA-256 fingerprint of the public key of the context's certificate, as clients pin it.
std::string KeyFingerprint(SSL_CTX* prmCtx);

// Subject of the certificate the client presented, one line; empty when none.
std::string ClientCertSubject(SSL* prmSsl);

// OpenSSL's queued error texts, emptied; for error records.
std::string TakeTlsErrors();

}  // namespace vantrel::testpeer
