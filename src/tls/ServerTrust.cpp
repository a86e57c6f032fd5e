#include "tls/ServerTrust.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "diag/DebugLog.h"
#include "platform/Dialogs.h"
#include "platform/KnownGateways.h"

namespace vantrel {

namespace {

// Real chains are a handful of certificates; a gateway sending more is not judged at all.
constexpr int kMaxChainLength = 16;

std::string Unbracketed(const std::string& prmHost) {
  if (prmHost.size() > 2 && prmHost.front() == '[' && prmHost.back() == ']')
    return prmHost.substr(1, prmHost.size() - 2);
  return prmHost;
}

bool IsAddress(const std::string& prmHost) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, prmHost.c_str(), buf) == 1 ||
         inet_pton(AF_INET6, prmHost.c_str(), buf) == 1;
}

std::string BioText(BIO* prmBio) {
  char* data = nullptr;
  long len = BIO_get_mem_data(prmBio, &data);
  return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

// One line, plain ASCII: control characters and other bytes escaped, so a NUL or a line end
// inside a name is shown, never acted on.
std::string NameText(const X509_NAME* prmName) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return {};
  X509_NAME_print_ex(bio, prmName, 0, XN_FLAG_RFC2253);
  std::string out = BioText(bio);
  BIO_free(bio);
  return out;
}

std::string TimeText(const ASN1_TIME* prmTime) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return {};
  std::string out = ASN1_TIME_print(bio, prmTime) == 1 ? BioText(bio) : "(not a valid date)";
  BIO_free(bio);
  return out;
}

TServerCertInfo Describe(X509* prmCert, const std::string& prmHost, int prmPort,
                         const std::string& prmFingerprint, const std::string& prmReason) {
  TServerCertInfo i;
  i.Host = prmHost;
  i.Port = prmPort;
  i.Subject = NameText(X509_get_subject_name(prmCert));
  i.Issuer = NameText(X509_get_issuer_name(prmCert));
  i.NotBefore = TimeText(X509_get0_notBefore(prmCert));
  i.NotAfter = TimeText(X509_get0_notAfter(prmCert));
  i.Fingerprint = prmFingerprint;
  i.Reason = prmReason;
  return i;
}

TTrustVerdict Verdict(bool prmAccepted, const std::string& prmFingerprint, std::string prmReason) {
  WriteDebugLog("CSSPI.PerformHandshake - gateway key " +
                (prmFingerprint.empty() ? std::string("(none)") : prmFingerprint) + " " +
                (prmAccepted ? "accepted: " : "refused: ") + prmReason);
  return {prmAccepted, prmFingerprint, std::move(prmReason)};
}

TTrustVerdict AskUser(X509* prmCert, const std::string& prmHost, int prmPort,
                      const std::string& prmFingerprint, const std::string& prmReason,
                      IDialogs* prmDialogs, const TKnownGateways& prmStore) {
  TServerCertAnswer answer = TServerCertAnswer::Refuse;
  if (prmDialogs)
    answer = prmDialogs->ConfirmServerCert(
        Describe(prmCert, prmHost, prmPort, prmFingerprint, prmReason));
  if (answer == TServerCertAnswer::Refuse)
    return Verdict(false, prmFingerprint, "refused by the user (" + prmReason + ")");
  if (answer == TServerCertAnswer::AcceptOnce)
    return Verdict(true, prmFingerprint, "accepted once by the user (" + prmReason + ")");
  std::string error;
  if (!prmStore.Remember(prmHost, prmPort, prmFingerprint, std::time(nullptr), error))
    return Verdict(true, prmFingerprint, "accepted by the user, not remembered: " + error);
  return Verdict(true, prmFingerprint, "accepted and remembered by the user");
}

}  // namespace

std::string PublicKeyFingerprint(X509* prmCert) {
  return prmCert ? PublicKeyFingerprint(X509_get0_pubkey(prmCert)) : std::string();
}

std::string PublicKeyFingerprint(EVP_PKEY* prmKey) {
  unsigned char* der = nullptr;
  int len = prmKey ? i2d_PUBKEY(prmKey, &der) : -1;
  if (len <= 0) return {};
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLen = 0;
  bool ok = EVP_Digest(der, static_cast<size_t>(len), md, &mdLen, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  if (!ok) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < mdLen; ++i) {
    if (i > 0) out.push_back(':');
    out.push_back(kHex[md[i] >> 4]);
    out.push_back(kHex[md[i] & 15]);
  }
  return out;
}

void UseGatewayTrustStore(SSL_CTX* prmCtx) {
  std::string file = TrustCAFile(), path = TrustCAPath();
  if (file.empty() && path.empty()) {
    // The system's hashed folder is read certificate by certificate as a chain needs them; its
    // bundle file would be parsed whole for every channel. SSL_CERT_FILE still names one.
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    const char* bundle = std::getenv(X509_get_default_cert_file_env());
    path = dir ? dir : X509_get_default_cert_dir();
    if (bundle) file = bundle;
  }
  bool ok = SSL_CTX_load_verify_locations(prmCtx, file.empty() ? nullptr : file.c_str(),
                                          path.empty() ? nullptr : path.c_str()) == 1;
  // Nothing verifies then; pinned and user-accepted keys still work.
  if (!ok) WriteDebugLog("CSSPI.InitCred - the trust store cannot be loaded");
}

bool ExpectGatewayName(SSL* prmSsl, const std::string& prmHost) {
  if (prmHost.empty() || prmHost.find('\0') != std::string::npos) return false;
  std::string host = Unbracketed(prmHost);
  if (IsAddress(host))
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(prmSsl), host.c_str()) == 1;
  return SSL_set1_host(prmSsl, host.c_str()) == 1;
}

TTrustVerdict DecideServerTrust(SSL* prmSsl, const std::string& prmHost, int prmPort,
                                IDialogs* prmDialogs, const TKnownGateways& prmStore) {
  X509* cert = SSL_get0_peer_certificate(prmSsl);
  if (!cert) return Verdict(false, {}, "the gateway sent no certificate");
  const std::string fp = PublicKeyFingerprint(cert);
  if (fp.empty()) return Verdict(false, fp, "the gateway's public key cannot be read");
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(prmSsl);
  int chainLen = chain ? sk_X509_num(chain) : 1;
  if (chainLen > kMaxChainLength)
    return Verdict(false, fp, "the gateway sent " + std::to_string(chainLen) + " certificates");
  if (prmHost.empty() || prmHost.find('\0') != std::string::npos)
    return Verdict(false, fp, "the gateway's name is not valid");

  std::vector<std::string> admin = AdminGatewayPins();
  if (std::find(admin.begin(), admin.end(), fp) != admin.end())
    return Verdict(true, fp, "pinned by the administrator");

  std::vector<TPinnedGateway> pins;
  std::string error;
  if (!prmStore.Load(pins, error)) return Verdict(false, fp, "the known gateways file " + error);
  if (const TPinnedGateway* pin = TKnownGateways::Find(pins, prmHost, prmPort)) {
    if (pin->Fingerprint == fp) return Verdict(true, fp, "remembered since " + pin->AcceptedAt);
    return Verdict(false, fp,
                   "the gateway's key changed: " + prmHost + ":" + std::to_string(prmPort) +
                       " was remembered with " + pin->Fingerprint + "; remove its line from " +
                       prmStore.Path() + " if the change is expected");
  }

  long result = SSL_get_verify_result(prmSsl);
  if (result == X509_V_OK) return Verdict(true, fp, "verified");
  return AskUser(cert, prmHost, prmPort, fp, X509_verify_cert_error_string(result), prmDialogs,
                 prmStore);
}

}  // namespace vantrel
