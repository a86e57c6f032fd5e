// The gateways whose certificate key the user accepted and asked to remember, and the keys an
// administrator pinned up front. Keys are named by the SHA-256 digest of the certificate's public
// key (DER SubjectPublicKeyInfo), written as 32 upper-case hex pairs joined by ':'.
//
// The per-user file ($XDG_CONFIG_HOME/vantrel/known_gateways, mode 0600) holds one line per
// gateway: "host port fingerprint accepted-at" (UTC, ISO 8601); '#' lines are comments. A file
// that is a link, not a regular file, not the user's own or writable by others, or holds a line
// of any other form, is refused whole: nothing in it is trusted and nothing is added to it.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace vantrel {

struct TPinnedGateway {
  std::string Host;
  int Port = 0;
  std::string Fingerprint;
  std::string AcceptedAt;
};

// prmText as a fingerprint (hex pairs with or without ':', either case), or empty when it is not
// one.
std::string NormalizeFingerprint(const std::string& prmText);
// The form libcurl's public-key pinning takes ("sha256//" and the digest in base64); empty when
// prmFingerprint is not one.
std::string CurlKeyPin(const std::string& prmFingerprint);

// Fingerprints an administrator trusts for every gateway: VANTREL_GATEWAY_PIN, else GatewayPin=
// in settings.ini; several are separated by ',' or blanks. Entries that are no fingerprint are
// logged and left out.
std::vector<std::string> AdminGatewayPins();
// A private trust store for the gateway's chain instead of the system's: VANTREL_CA_FILE /
// TrustCAFile= and VANTREL_CA_PATH / TrustCAPath=; empty when not set.
std::string TrustCAFile();
std::string TrustCAPath();

class TKnownGateways {
 public:
  // prmPath empty: $XDG_CONFIG_HOME/vantrel/known_gateways.
  explicit TKnownGateways(std::string prmPath = {});

  // Reads the file. True when it is missing or usable; false with the reason in prmError.
  bool Load(std::vector<TPinnedGateway>& prmOut, std::string& prmError) const;
  // The pin of prmHost:prmPort in prmPins, or nullptr.
  static const TPinnedGateway* Find(const std::vector<TPinnedGateway>& prmPins,
                                    const std::string& prmHost, int prmPort);
  // Adds or replaces the pin of the gateway (creating the folder and the file, mode 0600).
  // False with the reason when the file is unusable, the host cannot be written as one field, or
  // the file cannot be written.
  bool Remember(const std::string& prmHost, int prmPort, const std::string& prmFingerprint,
                std::time_t prmWhen, std::string& prmError) const;

  const std::string& Path() const { return m_Path; }

 private:
  std::string m_Path;
};

}  // namespace vantrel
