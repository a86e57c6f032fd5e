// Certificates on PKCS#11 tokens: p11-kit names the configured modules, in its own order, and
// libp11 reads each of them.
#include <libp11.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <p11-kit/p11-kit.h>

#include <cstdlib>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/CertStore.h"
#include "platform/Dialogs.h"

namespace vantrel {

namespace {

const char* const kPinCaption = "Smart card PIN";

// The loaded module and its slot list. Keys taken from a token refer into both, so every key
// keeps the session alive (see OwnTokenKey).
class TTokenSession {
 public:
  TTokenSession() = default;
  ~TTokenSession() {
    if (m_Slots) PKCS11_release_all_slots(m_Ctx, m_Slots, m_Count);
    if (m_Loaded) PKCS11_CTX_unload(m_Ctx);
    if (m_Ctx) PKCS11_CTX_free(m_Ctx);
  }
  TTokenSession(const TTokenSession&) = delete;
  TTokenSession& operator=(const TTokenSession&) = delete;

  bool Open(const char* prmModule) {
    m_Ctx = PKCS11_CTX_new();
    if (!m_Ctx) return false;
    m_Loaded = PKCS11_CTX_load(m_Ctx, prmModule) == 0;
    return m_Loaded && PKCS11_enumerate_slots(m_Ctx, &m_Slots, &m_Count) == 0;
  }
  unsigned Count() const { return m_Count; }
  PKCS11_SLOT* Slot(unsigned prmIndex) const { return m_Slots + prmIndex; }

 private:
  PKCS11_CTX* m_Ctx = nullptr;
  bool m_Loaded = false;
  PKCS11_SLOT* m_Slots = nullptr;
  unsigned m_Count = 0;
};

std::string Label(const PKCS11_TOKEN* prmToken) {
  return prmToken->label ? Trim(prmToken->label) : std::string("token");
}

std::shared_ptr<EVP_PKEY> OwnTokenKey(PKCS11_CERT* prmCert,
                                      const std::shared_ptr<TTokenSession>& prmSession) {
  PKCS11_KEY* key = PKCS11_find_key(prmCert);
  EVP_PKEY* pkey = key ? PKCS11_get_private_key(key) : nullptr;
  ERR_clear_error();
  if (!pkey) return nullptr;
  return std::shared_ptr<EVP_PKEY>(pkey, [prmSession](EVP_PKEY* prmKey) { EVP_PKEY_free(prmKey); });
}

// The token's certificate equal to prmCert, looked up again after the login.
PKCS11_CERT* FindCert(PKCS11_TOKEN* prmToken, const X509* prmCert) {
  PKCS11_CERT* certs = nullptr;
  unsigned n = 0;
  if (PKCS11_enumerate_certs(prmToken, &certs, &n) != 0) return nullptr;
  for (unsigned i = 0; i < n; ++i)
    if (certs[i].x509 && X509_cmp(certs[i].x509, prmCert) == 0) return &certs[i];
  return nullptr;
}

bool Refuse(IDialogs& prmDialogs, const std::string& prmText) {
  WriteDebugLog("TokenStore - " + prmText);
  prmDialogs.MessageBox(prmText, kPinCaption, MB_OK | MB_ICONERROR);
  return false;
}

// Logs in to the token of prmSlot (once per session) and finds the key of prmCert.Cert.
bool UnlockTokenKey(const std::shared_ptr<TTokenSession>& prmSession, PKCS11_SLOT* prmSlot,
                    IDialogs& prmDialogs, TStoredCert& prmCert) {
  PKCS11_TOKEN* token = prmSlot->token;
  if (!token) return Refuse(prmDialogs, "The token of " + prmCert.Origin + " was removed");
  int loggedIn = 0;
  if (PKCS11_is_logged_in(prmSlot, 0, &loggedIn) != 0 || !loggedIn) {
    std::string pin;
    if (prmDialogs.AskSecret("PIN for " + prmCert.Origin, kPinCaption, pin) != IDOK) {
      WriteDebugLog("TokenStore - " + prmCert.Origin + ": PIN not given");
      return false;
    }
    int rc = PKCS11_login(prmSlot, 0, pin.c_str());
    OPENSSL_cleanse(pin.data(), pin.size());
    ERR_clear_error();
    if (rc != 0) return Refuse(prmDialogs, "The PIN for " + prmCert.Origin + " was not accepted");
  }
  PKCS11_CERT* cert = FindCert(token, prmCert.Cert.get());
  prmCert.Key = cert ? OwnTokenKey(cert, prmSession) : nullptr;
  if (!prmCert.Key)
    return Refuse(prmDialogs,
                  "The key of the certificate on " + prmCert.Origin + " cannot be used");
  return true;
}

void ReadToken(const std::shared_ptr<TTokenSession>& prmSession, PKCS11_SLOT* prmSlot,
               std::vector<TStoredCert>& prmOut) {
  PKCS11_TOKEN* token = prmSlot->token;
  std::string label = Label(token);
  PKCS11_CERT* certs = nullptr;
  unsigned n = 0;
  if (PKCS11_enumerate_certs(token, &certs, &n) != 0) {
    ERR_clear_error();
    WriteDebugLog("TokenStore - " + label + ": certificates cannot be listed");
    return;
  }
  for (unsigned i = 0; i < n; ++i) {
    if (!certs[i].x509 || !IsCurrentlyValid(certs[i].x509, label)) continue;
    X509_up_ref(certs[i].x509);
    TStoredCert c{std::shared_ptr<X509>(certs[i].x509, X509_free), nullptr, label, nullptr};
    if (token->loginRequired) {
      // Private keys show only after the login; the PIN is asked once this one is chosen.
      c.Unlock = [prmSession, prmSlot](IDialogs& prmDialogs, TStoredCert& prmCert) {
        return UnlockTokenKey(prmSession, prmSlot, prmDialogs, prmCert);
      };
    } else if (!(c.Key = OwnTokenKey(&certs[i], prmSession))) {
      continue;  // a certificate without a key (a trust anchor, say) cannot sign
    }
    prmOut.push_back(std::move(c));
  }
}

// The file names of p11-kit's configured modules. Loading them here only reads the
// configuration: none is initialised, and each is released again at once.
std::vector<std::string> ConfiguredModules() {
  std::vector<std::string> out;
  CK_FUNCTION_LIST** modules = p11_kit_modules_load(nullptr, P11_KIT_MODULE_UNMANAGED);
  if (!modules) {
    WriteDebugLog(std::string("TokenStore - no PKCS#11 modules: ") + p11_kit_message());
    return out;
  }
  for (CK_FUNCTION_LIST** m = modules; *m; ++m) {
    char* file = p11_kit_module_get_filename(*m);
    if (file) out.push_back(file);
    std::free(file);
  }
  p11_kit_modules_release(modules);
  return out;
}

}  // namespace

std::vector<TStoredCert> ReadTokens() {
  std::vector<TStoredCert> out;
  for (const std::string& module : ConfiguredModules()) {
    auto session = std::make_shared<TTokenSession>();
    if (!session->Open(module.c_str())) {
      ERR_clear_error();
      WriteDebugLog("TokenStore - cannot read the tokens of " + module);
      continue;
    }
    for (unsigned i = 0; i < session->Count(); ++i) {
      PKCS11_SLOT* slot = session->Slot(i);
      if (slot->token && slot->token->initialized) ReadToken(session, slot, out);
    }
  }
  return out;
}

}  // namespace vantrel
