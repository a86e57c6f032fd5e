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

// One file's passphrase: asked at most once, wiped when the file is done.
class TPassphrase {
 public:
  TPassphrase(IDialogs& prmDialogs, const std::string& prmName)
      : m_Dialogs(prmDialogs), m_Name(prmName) {}
  ~TPassphrase() { OPENSSL_cleanse(m_Text.data(), m_Text.size()); }
  TPassphrase(const TPassphrase&) = delete;
  TPassphrase& operator=(const TPassphrase&) = delete;

  // False when the user cancelled.
  bool Ask() {
    if (!m_Asked) {
      m_Asked = true;
      m_Given = m_Dialogs.AskSecret("Passphrase for " + m_Name, kPassCaption, m_Text) == IDOK;
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
             IDialogs& prmDialogs, std::vector<TStoredCert>& prmOut) {
  TBioPtr certs = MemBio(prmText);
  std::shared_ptr<X509> cert;
  if (certs) cert = OwnCert(PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr));
  TPassphrase pass(prmDialogs, prmName);
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

void ReadPkcs12(const std::string& prmName, const std::string& prmText, IDialogs& prmDialogs,
                std::vector<TStoredCert>& prmOut) {
  const auto* p = reinterpret_cast<const unsigned char*>(prmText.data());
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(
      d2i_PKCS12(nullptr, &p, static_cast<long>(prmText.size())), PKCS12_free);
  if (!p12) {
    ERR_clear_error();
    return Skip(prmName, "not a certificate file");
  }
  TPassphrase pass(prmDialogs, prmName);
  // A bundle without a passphrase opens with the empty one; only others ask the user.
  bool open = PKCS12_mac_present(p12.get()) ? PKCS12_verify_mac(p12.get(), "", 0) == 1 ||
                                                  PKCS12_verify_mac(p12.get(), nullptr, 0) == 1
                                            : true;
  if (!open) {
    if (!pass.Ask()) return Skip(prmName, "passphrase not given");
    if (PKCS12_verify_mac(p12.get(), pass.Text(), -1) != 1) {
      ERR_clear_error();
      return pass.ReportWrong();
    }
  }
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

std::vector<TStoredCert> ReadCertFolder(const std::string& prmFolder, IDialogs& prmDialogs) {
  std::vector<TStoredCert> out;
  std::vector<std::string> names;
  if (DIR* d = opendir(prmFolder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (EndsWith(name, kKeySuffix)) continue;  // read with its certificate
    std::string text;
    if (!ReadRegularFile(prmFolder + "/" + name, kMaxCertFile, text)) {
      Skip(name, "cannot be read");
      continue;
    }
    if (text.find("-----BEGIN ") == std::string::npos) {
      ReadPkcs12(name, text, prmDialogs, out);
      continue;
    }
    std::string keyText;
    std::string stem = name.substr(0, name.rfind('.'));
    ReadRegularFile(prmFolder + "/" + stem + kKeySuffix, kMaxCertFile, keyText);
    ReadPem(name, text, keyText, prmDialogs, out);
    OPENSSL_cleanse(keyText.data(), keyText.size());
  }
  return out;
}

std::vector<TStoredCert> OpenPersonalStore(IDialogs& prmDialogs) {
  std::vector<TStoredCert> out = ReadCertFolder(CertFolder(), prmDialogs);
  std::vector<TStoredCert> tokens = ReadTokens();
  std::move(tokens.begin(), tokens.end(), std::back_inserter(out));
  return out;
}

}  // namespace vantrel
