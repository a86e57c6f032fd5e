// Where the channel gets a client certificate when the gateway asks for one. The handshake only
// needs the answer; TCertificateChooser (tls/DlgSelectCert.h) gives it from the user's store.
#pragma once

#include <openssl/types.h>

#include <memory>

namespace vantrel {

struct TX509Free {
  void operator()(X509* prmCert) const;
};
struct TPKeyFree {
  void operator()(EVP_PKEY* prmKey) const;
};
using TX509Ptr = std::unique_ptr<X509, TX509Free>;
using TPKeyPtr = std::unique_ptr<EVP_PKEY, TPKeyFree>;

// A certificate with its private key; owned by whoever holds the record.
struct TClientCertificate {
  TX509Ptr Cert;
  TPKeyPtr Key;
  // What the key needs while it lives (a token's module): the channel keeps it until its own
  // handles are gone. May be empty.
  std::shared_ptr<void> KeyOwner;
};

enum class TCertChoice {
  NoneInStore,  // nothing to offer: the channel tells the user and the handshake fails
  Cancelled,    // the user declined: the handshake fails quietly
  Chosen,       // prmOut holds the certificate and its key
};

class ICertificateChooser {
 public:
  virtual ~ICertificateChooser() = default;
  // Runs on the handshake thread and may keep it while the user decides. With exactly one
  // certificate available it answers at once, without a dialog. On Chosen, ownership of the
  // certificate and key passes to the caller through prmOut.
  virtual TCertChoice ChooseCertificate(TClientCertificate& prmOut) = 0;
};

}  // namespace vantrel
