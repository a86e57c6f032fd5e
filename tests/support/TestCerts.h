// Certificates made at run time for the client-certificate tests: a CA and the certificates it
// issues, written as PEM, DER or PKCS#12 files. EC P-256 keys keep generation fast.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace vantrel::test {

struct TTestCert {
  std::shared_ptr<EVP_PKEY> Key;
  std::shared_ptr<X509> Cert;
};

class TTestCA {
 public:
  explicit TTestCA(const std::string& prmCommonName);
  // A certificate for prmCommonName, valid from prmFromDays to prmToDays around now.
  TTestCert Issue(const std::string& prmCommonName, long prmFromDays = -1,
                  long prmToDays = 30) const;
  const TTestCert& Own() const { return m_Own; }

 private:
  TTestCert m_Own;
};

std::string CertPem(const TTestCert& prmCert);
std::string KeyPem(const TTestCert& prmCert);  // PKCS#8, not encrypted
std::string CertDer(const TTestCert& prmCert);
std::string Pkcs12(const TTestCert& prmCert, const std::string& prmPassphrase);
// Writes prmData to prmPath (mode 0600), creating the folder; false on failure.
bool WriteTestFile(const std::string& prmPath, const std::string& prmData);

}  // namespace vantrel::test
