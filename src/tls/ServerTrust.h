// Whether the gateway a handshake reached may receive the session: its certificate chain and name
// are checked against the trust store during the handshake, and the decision is taken once the
// handshake is through, before any byte of the session goes out. Keys an administrator pinned
// and keys the user chose to remember come first; an unverified, unpinned certificate is shown
// to the user, who may go on once, go on and remember its key, or refuse.
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace vantrel {

class IDialogs;
class TKnownGateways;

// SHA-256 of the certificate's public key (DER SubjectPublicKeyInfo), hex pairs joined by ':';
// empty when it cannot be computed.
std::string PublicKeyFingerprint(X509* prmCert);
std::string PublicKeyFingerprint(EVP_PKEY* prmKey);

// The store the gateway's chain is verified against: the private one the settings name, else
// OpenSSL's default certificate folder (SSL_CERT_DIR, and SSL_CERT_FILE when set).
void UseGatewayTrustStore(SSL_CTX* prmCtx);
// Makes the handshake's verification check prmHost (a name, or an address literal against the
// certificate's addresses). False when prmHost cannot be a gateway name (empty, NUL inside).
bool ExpectGatewayName(SSL* prmSsl, const std::string& prmHost);

struct TTrustVerdict {
  bool Accepted = false;
  std::string Fingerprint;
  std::string Reason;  // why it was accepted or refused, for the log and the error
};

// Called on the handshake's thread once it completed, without the channel's lock (the user may
// be asked). prmDialogs may be null: an unverified, unpinned certificate is then refused.
TTrustVerdict DecideServerTrust(SSL* prmSsl, const std::string& prmHost, int prmPort,
                                IDialogs* prmDialogs, const TKnownGateways& prmStore);

}  // namespace vantrel
