// The user's personal certificates: PEM or PKCS#12 files in CertFolder(), then the certificates
// on PKCS#11 tokens that p11-kit's configured modules offer. Read on the thread that needs a
// certificate (the handshake's); passphrases and PINs are asked through the dialogs, wiped after
// use and never kept or logged. Unusable entries are skipped with one log line each.
#pragma once

#include <openssl/pkcs12.h>
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

// Asked between files and before each passphrase: true ends the reading at once (the session
// is being released). Empty: never.
using TStopCheck = std::function<bool()>;

// ConfigDir() + "/certs".
std::string CertFolder();
// The folder's certificates with their keys, by file name. A PEM file holds a certificate and
// its key, or the key is in a file of the same name ending in ".key". Expired certificates and
// those without a key are left out, and so are PKCS#12 bundles that cost more than
// kMaxPkcs12Rounds to open.
std::vector<TStoredCert> ReadCertFolder(const std::string& prmFolder, IDialogs& prmDialogs,
                                        const TStopCheck& prmStop = {});
// Certificates on every token of p11-kit's modules, token by token. A token that needs no login
// offers only certificates with a key; one behind a PIN offers its certificates and looks for
// the key after the login.
std::vector<TStoredCert> ReadTokens();
// Both, files first.
std::vector<TStoredCert> OpenPersonalStore(IDialogs& prmDialogs, const TStopCheck& prmStop = {});

// A PKCS#12 bundle may ask for any number of key-derivation rounds; 10^8 hold the thread at full
// CPU for more than a minute. Common tools write a few thousand; a bundle asking for more than
// this is skipped unopened.
constexpr long kMaxPkcs12Rounds = 1000000;
// The most derivation rounds opening prmBundle would run: its MAC's and every PBE or PBKDF2 count
// of its contents and shrouded keys, read from the structure without deriving anything (LONG_MAX
// for a count that cannot be read). With prmOpenContents the encrypted contents are opened with
// prmPass (null and "" differ) to count the keys inside; their own counts must have passed.
long Pkcs12Rounds(const PKCS12* prmBundle, bool prmOpenContents = false,
                  const char* prmPass = nullptr);

// The name as a person reads it: the common name, else the organisation, else the whole name.
std::string CertDisplayName(const X509_NAME* prmName);
// Shared by the readers: false (with a log line naming prmOrigin) for a certificate outside its
// validity dates.
bool IsCurrentlyValid(const X509* prmCert, const std::string& prmOrigin);

}  // namespace vantrel
