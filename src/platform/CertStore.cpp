// The certificate folder: PEM files (certificate and key, the key possibly in a ".key" file
// beside it) and PKCS#12 bundles, read in file-name order.
#include "platform/CertStore.h"

#include <dirent.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>

#include "diag/DebugLog.h"
#include "diag/FileRead.h"
#include "platform/Dialogs.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

constexpr size_t kMaxCertFile = 1 << 20;
constexpr size_t kMaxDisplayName = 2048;
const char* const kKeySuffix = ".key";
const char* const kPassCaption = "Certificate passphrase";

void Skip(const std::string& prmName, const std::string& prmWhy) {
  WriteDebugLog("CertStore - " + prmName + ": skipped, " + prmWhy);
}

bool EndsWith(const std::string& prmText, const std::string& prmEnd) {
  return prmText.size() >= prmEnd.size() &&
         prmText.compare(prmText.size() - prmEnd.size(), prmEnd.size(), prmEnd) == 0;
}

using TBioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;
TBioPtr MemBio(const std::string& prmText) {
  return TBioPtr(BIO_new_mem_buf(prmText.data(), static_cast<int>(prmText.size())), BIO_free);
}

// One file's passphrase: asked at most once (never once a stop was asked for), wiped when the
// file is done.
class TPassphrase {
 public:
  TPassphrase(IDialogs& prmDialogs, const std::string& prmName, const TStopCheck& prmStop)
      : m_Dialogs(prmDialogs), m_Name(prmName), m_Stop(prmStop) {}
  ~TPassphrase() { OPENSSL_cleanse(m_Text.data(), m_Text.size()); }
  TPassphrase(const TPassphrase&) = delete;
  TPassphrase& operator=(const TPassphrase&) = delete;

  // False when the user cancelled.
  bool Ask() {
    if (!m_Asked) {
      m_Asked = true;
      m_Given = !(m_Stop && m_Stop()) &&
                m_Dialogs.AskSecret("Passphrase for " + m_Name, kPassCaption, m_Text) == IDOK;
    }
    return m_Given;
  }
  bool Asked() const { return m_Asked; }
  bool Given() const { return m_Given; }
  const char* Text() const { return m_Text.c_str(); }
  // The user hears why the file is left out; the log gets the same without the secret.
  void ReportWrong() {
    Skip(m_Name, "wrong passphrase");
    m_Dialogs.MessageBox("The passphrase for " + m_Name + " is not correct", kPassCaption,
                         MB_OK | MB_ICONERROR);
  }

  // OpenSSL's callback for an encrypted PEM key.
  static int Callback(char* prmBuf, int prmSize, int, void* prmSelf) {
    auto* self = static_cast<TPassphrase*>(prmSelf);
    if (!self->Ask()) return -1;
    int n = static_cast<int>(std::min<size_t>(self->m_Text.size(), size_t(prmSize)));
    std::copy_n(self->m_Text.data(), n, prmBuf);
    return n;
  }

 private:
  IDialogs& m_Dialogs;
  const std::string& m_Name;
  const TStopCheck& m_Stop;
  std::string m_Text;
  bool m_Asked = false;
  bool m_Given = false;
};

std::shared_ptr<X509> OwnCert(X509* prmCert) {
  return std::shared_ptr<X509>(prmCert, X509_free);
}
std::shared_ptr<EVP_PKEY> OwnKey(EVP_PKEY* prmKey) {
  return std::shared_ptr<EVP_PKEY>(prmKey, EVP_PKEY_free);
}

void AddIfUsable(const std::string& prmName, std::shared_ptr<X509> prmCert,
                 std::shared_ptr<EVP_PKEY> prmKey, std::vector<TStoredCert>& prmOut) {
  if (!prmCert) return Skip(prmName, "no certificate");
  if (!prmKey) return Skip(prmName, "no private key");
  if (X509_check_private_key(prmCert.get(), prmKey.get()) != 1) {
    ERR_clear_error();
    return Skip(prmName, "the key does not belong to the certificate");
  }
  if (!IsCurrentlyValid(prmCert.get(), prmName)) return;
  prmOut.push_back({std::move(prmCert), std::move(prmKey), prmName, nullptr});
}

void ReadPem(const std::string& prmName, const std::string& prmText, const std::string& prmKeyText,
             IDialogs& prmDialogs, const TStopCheck& prmStop, std::vector<TStoredCert>& prmOut) {
  TBioPtr certs = MemBio(prmText);
  std::shared_ptr<X509> cert;
  if (certs) cert = OwnCert(PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr));
  TPassphrase pass(prmDialogs, prmName, prmStop);
  std::shared_ptr<EVP_PKEY> key;
  for (const std::string* text : {&prmText, &prmKeyText}) {
    TBioPtr keys = MemBio(*text);
    if (!key && keys && !text->empty() && !pass.Asked())
      key = OwnKey(PEM_read_bio_PrivateKey(keys.get(), nullptr, &TPassphrase::Callback, &pass));
  }
  ERR_clear_error();
  if (!key && pass.Asked()) {
    if (pass.Given())
      pass.ReportWrong();
    else
      Skip(prmName, "passphrase not given");
    return;
  }
  AddIfUsable(prmName, std::move(cert), std::move(key), prmOut);
}

template <typename T, void (*Free)(T*)>
using TAsn1Ptr = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;

// A count that does not fit (or is negative) is taken for too many.
long Rounds(const ASN1_INTEGER* prmCount) {
  long n = ASN1_INTEGER_get(prmCount);
  return n < 0 ? LONG_MAX : n;
}

// PKCS#5 v1 and PKCS#12 schemes carry the count in their own parameters, PBES2 in its PBKDF2 key
// function. Parameters OpenSSL cannot read cost nothing: it fails before deriving.
long PbeRounds(const X509_ALGOR* prmAlg) {
  const ASN1_OBJECT* obj = nullptr;
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(&obj, &type, &value, prmAlg);
  if (type != V_ASN1_SEQUENCE) return 0;
  const auto* params = static_cast<const ASN1_STRING*>(value);
  if (OBJ_obj2nid(obj) != NID_pbes2) {
    TAsn1Ptr<PBEPARAM, PBEPARAM_free> pbe(
        static_cast<PBEPARAM*>(ASN1_item_unpack(params, ASN1_ITEM_rptr(PBEPARAM))));
    return pbe ? Rounds(pbe->iter) : 0;
  }
  TAsn1Ptr<PBE2PARAM, PBE2PARAM_free> pbe2(
      static_cast<PBE2PARAM*>(ASN1_item_unpack(params, ASN1_ITEM_rptr(PBE2PARAM))));
  if (!pbe2 || OBJ_obj2nid(pbe2->keyfunc->algorithm) != NID_id_pbkdf2) return 0;
  TAsn1Ptr<PBKDF2PARAM, PBKDF2PARAM_free> kdf(static_cast<PBKDF2PARAM*>(
      ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
  return kdf ? Rounds(kdf->iter) : 0;
}

long BagRounds(const STACK_OF(PKCS12_SAFEBAG) * prmBags) {
  long most = 0;
  for (int i = 0; i < sk_PKCS12_SAFEBAG_num(prmBags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(prmBags, i);
    if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
      const X509_ALGOR* alg = nullptr;
      X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &alg, nullptr);
      most = std::max(most, PbeRounds(alg));
    } else if (PKCS12_SAFEBAG_get_nid(bag) == NID_safeContentsBag) {
      most = std::max(most, BagRounds(PKCS12_SAFEBAG_get0_safes(bag)));
    }
  }
  return most;
}

bool TooCostly(const std::string& prmName, long prmRounds) {
  if (prmRounds <= kMaxPkcs12Rounds) return false;
  Skip(prmName,
       "its key derivation asks for more than " + std::to_string(kMaxPkcs12Rounds) + " rounds");
  return true;
}

void ReadPkcs12(const std::string& prmName, const std::string& prmText, IDialogs& prmDialogs,
                const TStopCheck& prmStop, std::vector<TStoredCert>& prmOut) {
  const auto* p = reinterpret_cast<const unsigned char*>(prmText.data());
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(
      d2i_PKCS12(nullptr, &p, static_cast<long>(prmText.size())), PKCS12_free);
  if (!p12) {
    ERR_clear_error();
    return Skip(prmName, "not a certificate file");
  }
  // Counted before the first MAC check, which already runs the MAC's rounds.
  if (TooCostly(prmName, Pkcs12Rounds(p12.get()))) return;
  TPassphrase pass(prmDialogs, prmName, prmStop);
  // A bundle without a passphrase opens with the empty one, in either of its two encodings; only
  // others ask the user.
  bool open = true;
  const char* secret = nullptr;
  if (PKCS12_mac_present(p12.get()) && PKCS12_verify_mac(p12.get(), nullptr, 0) != 1) {
    if (PKCS12_verify_mac(p12.get(), "", 0) == 1) {
      secret = "";
    } else {
      open = false;
      if (!pass.Ask()) return Skip(prmName, "passphrase not given");
      if (PKCS12_verify_mac(p12.get(), pass.Text(), -1) != 1) {
        ERR_clear_error();
        return pass.ReportWrong();
      }
      secret = pass.Text();
    }
  }
  // Keys inside encrypted contents can only be counted once the passphrase is known.
  if (TooCostly(prmName, Pkcs12Rounds(p12.get(), true, secret))) return;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  int ok = PKCS12_parse(p12.get(), open ? "" : pass.Text(), &key, &cert, &chain);
  sk_X509_pop_free(chain, X509_free);
  ERR_clear_error();
  if (ok != 1) return Skip(prmName, "the bundle cannot be read");
  AddIfUsable(prmName, OwnCert(cert), OwnKey(key), prmOut);
}

std::string Utf8(const ASN1_STRING* prmText) {
  unsigned char* out = nullptr;
  int n = ASN1_STRING_to_UTF8(&out, prmText);
  if (n < 0) return {};
  std::string s(reinterpret_cast<char*>(out), size_t(n));
  OPENSSL_free(out);
  return s;
}

}  // namespace

long Pkcs12Rounds(const PKCS12* prmBundle, bool prmOpenContents, const char* prmPass) {
  const ASN1_INTEGER* macRounds = nullptr;
  PKCS12_get0_mac(nullptr, nullptr, nullptr, &macRounds, prmBundle);
  long most = macRounds ? Rounds(macRounds) : 1;  // no count: one round, if a MAC at all
  STACK_OF(PKCS7)* contents = PKCS12_unpack_authsafes(prmBundle);
  for (int i = 0; i < sk_PKCS7_num(contents); ++i) {
    PKCS7* p7 = sk_PKCS7_value(contents, i);
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    if (PKCS7_type_is_data(p7)) {
      bags = PKCS12_unpack_p7data(p7);
    } else if (PKCS7_type_is_encrypted(p7) && p7->d.encrypted && p7->d.encrypted->enc_data) {
      long own = PbeRounds(p7->d.encrypted->enc_data->algorithm);
      most = std::max(most, own);
      if (prmOpenContents && own <= kMaxPkcs12Rounds)
        bags = PKCS12_unpack_p7encdata(p7, prmPass, prmPass ? -1 : 0);
    }
    most = std::max(most, BagRounds(bags));
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
  }
  sk_PKCS7_pop_free(contents, PKCS7_free);
  ERR_clear_error();
  return most;
}

std::string CertFolder() {
  return ConfigDir() + "/certs";
}

bool IsCurrentlyValid(const X509* prmCert, const std::string& prmOrigin) {
  if (X509_cmp_current_time(X509_get0_notBefore(prmCert)) >= 0) {
    Skip(prmOrigin, "not valid yet");
    return false;
  }
  if (X509_cmp_current_time(X509_get0_notAfter(prmCert)) <= 0) {
    Skip(prmOrigin, "expired");
    return false;
  }
  return true;
}

std::string CertDisplayName(const X509_NAME* prmName) {
  if (!prmName) return {};
  for (int nid : {NID_commonName, NID_organizationName}) {
    int i = X509_NAME_get_index_by_NID(prmName, nid, -1);
    if (i >= 0) {
      std::string s = Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(prmName, i)));
      if (!s.empty()) return s.substr(0, kMaxDisplayName);
    }
  }
  TBioPtr bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio) return {};
  X509_NAME_print_ex(bio.get(), prmName, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, size_t(std::max(n, 0L))).substr(0, kMaxDisplayName);
}

std::vector<TStoredCert> ReadCertFolder(const std::string& prmFolder, IDialogs& prmDialogs,
                                        const TStopCheck& prmStop) {
  std::vector<TStoredCert> out;
  std::vector<std::string> names;
  if (DIR* d = opendir(prmFolder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (prmStop && prmStop()) {
      WriteDebugLog("CertStore - stopped before " + name);
      break;
    }
    if (EndsWith(name, kKeySuffix)) continue;  // read with its certificate
    std::string text;
    if (!ReadRegularFile(prmFolder + "/" + name, kMaxCertFile, text)) {
      Skip(name, "cannot be read");
      continue;
    }
    if (text.find("-----BEGIN ") == std::string::npos) {
      ReadPkcs12(name, text, prmDialogs, prmStop, out);
      continue;
    }
    std::string keyText;
    std::string stem = name.substr(0, name.rfind('.'));
    ReadRegularFile(prmFolder + "/" + stem + kKeySuffix, kMaxCertFile, keyText);
    ReadPem(name, text, keyText, prmDialogs, prmStop, out);
    OPENSSL_cleanse(keyText.data(), keyText.size());
  }
  return out;
}

std::vector<TStoredCert> OpenPersonalStore(IDialogs& prmDialogs, const TStopCheck& prmStop) {
  std::vector<TStoredCert> out = ReadCertFolder(CertFolder(), prmDialogs, prmStop);
  if (prmStop && prmStop()) return out;
  std::vector<TStoredCert> tokens = ReadTokens();
  std::move(tokens.begin(), tokens.end(), std::back_inserter(out));
  return out;
}

}  // namespace vantrel
