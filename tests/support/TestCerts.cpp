#include "support/TestCerts.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>

namespace vantrel::test {

namespace {

std::shared_ptr<EVP_PKEY> NewKey() {
  return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

std::shared_ptr<X509> NewCert(const std::string& prmCommonName, EVP_PKEY* prmKey,
                              const TTestCert* prmIssuer, long prmFromDays, long prmToDays) {
  static long serial = 1;
  std::shared_ptr<X509> cert(X509_new(), X509_free);
  X509* x = cert.get();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
  X509_gmtime_adj(X509_getm_notBefore(x), prmFromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(x), prmToDays * 86400);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(prmCommonName.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(
      x, prmIssuer ? X509_get_subject_name(prmIssuer->Cert.get()) : X509_get_subject_name(x));
  X509_set_pubkey(x, prmKey);
  if (!prmIssuer) {
    // OpenSSL takes a version 3 root as a CA only when it says so.
    X509_EXTENSION* ca = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "CA:TRUE");
    X509_add_ext(x, ca, -1);
    X509_EXTENSION_free(ca);
  }
  X509_sign(x, prmIssuer ? prmIssuer->Key.get() : prmKey, EVP_sha256());
  return cert;
}

template <typename TWrite>
std::string ToBio(TWrite prmWrite) {
  BIO* bio = BIO_new(BIO_s_mem());
  prmWrite(bio);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, size_t(n > 0 ? n : 0));
  BIO_free(bio);
  return out;
}

}  // namespace

TTestCA::TTestCA(const std::string& prmCommonName) {
  m_Own.Key = NewKey();
  m_Own.Cert = NewCert(prmCommonName, m_Own.Key.get(), nullptr, -1, 365);
}

TTestCert TTestCA::Issue(const std::string& prmCommonName, long prmFromDays, long prmToDays) const {
  TTestCert c;
  c.Key = NewKey();
  c.Cert = NewCert(prmCommonName, c.Key.get(), &m_Own, prmFromDays, prmToDays);
  return c;
}

std::string CertPem(const TTestCert& prmCert) {
  return ToBio([&](BIO* b) { PEM_write_bio_X509(b, prmCert.Cert.get()); });
}

std::string KeyPem(const TTestCert& prmCert) {
  return ToBio([&](BIO* b) {
    PEM_write_bio_PKCS8PrivateKey(b, prmCert.Key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
}

std::string CertDer(const TTestCert& prmCert) {
  return ToBio([&](BIO* b) { i2d_X509_bio(b, prmCert.Cert.get()); });
}

std::string Pkcs12(const TTestCert& prmCert, const std::string& prmPassphrase) {
  PKCS12* p12 = PKCS12_create(prmPassphrase.c_str(), "test", prmCert.Key.get(), prmCert.Cert.get(),
                              nullptr, 0, 0, 0, 0, 0);
  std::string out = ToBio([&](BIO* b) { i2d_PKCS12_bio(b, p12); });
  PKCS12_free(p12);
  return out;
}

bool WriteTestFile(const std::string& prmPath, const std::string& prmData) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(prmPath).parent_path(), ec);
  std::ofstream f(prmPath, std::ios::binary | std::ios::trunc);
  f << prmData;
  f.close();
  std::filesystem::permissions(
      prmPath, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  return bool(f);
}

}  // namespace vantrel::test
