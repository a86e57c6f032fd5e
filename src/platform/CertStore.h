// The user's personal certificates: PEM or PKCS#12 files in CertFolder(), then the certificates
// on PKCS#11 tokens that p11-kit's configured modules offer. Read on the thread that needs a
// certificate (the handshake's); passphrases and PINs are asked through the dialogs, wiped after
// use and never kept or logged. Unusable entries are skipped with one log line each.
#pragma once

#include <openssl/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

class IDialogs;

struct TStoredCert {
  std::shared_ptr<X509> Cert;
  // Files: read with the certificate. Tokens behind a PIN: empty until Unlock found it. A token's
  // key keeps the token's module loaded for as long as it lives.
  std::shared_ptr<EVP_PKEY> Key;
  std::string Origin;  // file name or token label, for log lines and messages
  // Tokens behind a PIN: logs in (PIN through prmDialogs) and fills Key. False when the user
  // cancelled or was told why the key cannot be used.
  std::function<bool(IDialogs& prmDialogs, TStoredCert& prmCert)> Unlock;
};

// ConfigDir() + "/certs".
std::string CertFolder();
// The folder's certificates with their keys, by file name. A PEM file holds a certificate and
// its key, or the key is in a file of the same name ending in ".key". Expired certificates and
// those without a key are left out.
std::vector<TStoredCert> ReadCertFolder(const std::string& prmFolder, IDialogs& prmDialogs);
// Certificates on every token of p11-kit's modules, token by token. A token that needs no login
// offers only certificates with a key; one behind a PIN offers its certificates and looks for
// the key after the login.
std::vector<TStoredCert> ReadTokens();
// Both, files first.
std::vector<TStoredCert> OpenPersonalStore(IDialogs& prmDialogs);

// The name as a person reads it: the common name, else the organisation, else the whole name.
std::string CertDisplayName(const X509_NAME* prmName);
// Shared by the readers: false (with a log line naming prmOrigin) for a certificate outside its
// validity dates.
bool IsCurrentlyValid(const X509* prmCert, const std::string& prmOrigin);

}  // namespace vantrel
