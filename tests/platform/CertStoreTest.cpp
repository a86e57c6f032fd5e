// PKCS#12 bundles that would cost minutes of key derivation are skipped unopened, and a stop
// request ends the store's reading before the next file or passphrase.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <climits>
#include <string>

#include "platform/CertStore.h"
#include "platform/Dialogs.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestCerts.h"
#include "support/TestEnv.h"

namespace vantrel::test {
namespace {

struct TBundle {
  long MacRounds;  // 0: no MAC
  long KeyRounds;  // the shrouded key's count
  bool Pbes2;      // the key's scheme: PBES2 with PBKDF2, else a PKCS#12 PBE
  bool KeyHidden;  // the key inside encrypted contents (of 2 rounds)
};

// The counts are written into a bundle built with 2 rounds, so nothing here runs them; the
// bundle's MAC and key no longer match, which a reader must never get to find out.
std::unique_ptr<PKCS12, decltype(&PKCS12_free)> Bundle(const TTestCert& prmCert,
                                                       const TBundle& prmBundle) {
  STACK_OF(PKCS12_SAFEBAG)* certs = nullptr;
  STACK_OF(PKCS12_SAFEBAG)* keys = nullptr;
  PKCS12_add_cert(&certs, prmCert.Cert.get());
  PKCS12_SAFEBAG* key =
      PKCS12_add_key(&keys, prmCert.Key.get(), 0, 2, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, "");
  X509_ALGOR* alg = nullptr;
  X509_SIG_getm(const_cast<X509_SIG*>(PKCS12_SAFEBAG_get0_pkcs8(key)), &alg, nullptr);
  const int rounds = static_cast<int>(prmBundle.KeyRounds);
  X509_ALGOR* costly =
      prmBundle.Pbes2
          ? PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), rounds, nullptr, 0, nullptr, NID_hmacWithSHA256)
          : PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, rounds, nullptr, 0);
  X509_ALGOR_copy(alg, costly);
  X509_ALGOR_free(costly);
  STACK_OF(PKCS7)* contents = nullptr;
  PKCS12_add_safe(&contents, certs, -1, 0, nullptr);
  PKCS12_add_safe(&contents, keys,
                  prmBundle.KeyHidden ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : -1, 2, "");
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(PKCS12_add_safes(contents, 0), PKCS12_free);
  sk_PKCS7_pop_free(contents, PKCS7_free);
  sk_PKCS12_SAFEBAG_pop_free(certs, PKCS12_SAFEBAG_free);
  sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
  if (prmBundle.MacRounds != 0) {
    PKCS12_set_mac(p12.get(), "", -1, nullptr, 0, 2, nullptr);
    const ASN1_INTEGER* count = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &count, p12.get());
    ASN1_INTEGER_set(const_cast<ASN1_INTEGER*>(count), prmBundle.MacRounds);
  }
  return p12;
}

std::string Der(const PKCS12* prmBundle) {
  unsigned char* out = nullptr;
  int n = i2d_PKCS12(const_cast<PKCS12*>(prmBundle), &out);
  std::string der(reinterpret_cast<char*>(out), size_t(std::max(n, 0)));
  OPENSSL_free(out);
  return der;
}

TEST(CertStore, Pkcs12RoundsAreCountedWithoutDeriving) {
  TTestCert cert = TTestCA("CA").Issue("c");
  const struct {
    TBundle Input;
    long Closed, Open;  // the count before and after the encrypted contents are opened
  } cases[] = {
      {{1000000, 2, true, false}, 1000000, 1000000},  {{2000000, 2, true, false}, 2000000, 2000000},
      {{0, 1000000, true, false}, 1000000, 1000000},  {{2, 2000000, true, false}, 2000000, 2000000},
      {{2, 2000000, false, false}, 2000000, 2000000}, {{2, 2000000, true, true}, 2, 2000000},
      {{-1, 2, true, false}, LONG_MAX, LONG_MAX},  // a count that cannot be one
  };
  for (const auto& c : cases) {
    auto p12 = Bundle(cert, c.Input);
    ASSERT_TRUE(p12);
    SCOPED_TRACE(std::to_string(c.Input.MacRounds) + " " + std::to_string(c.Input.KeyRounds));
    EXPECT_EQ(Pkcs12Rounds(p12.get()), c.Closed);
    EXPECT_EQ(Pkcs12Rounds(p12.get(), true, ""), c.Open);
  }
}

TEST(CertStore, CostlyBundlesAreSkippedBesideAGoodOne) {
  TTestCA ca("CA");
  TTestCert good = ca.Issue("good"), other = ca.Issue("other");
  const std::string dir = TestRoot() + "/costly";
  ASSERT_TRUE(
      WriteTestFile(dir + "/a.p12", Der(Bundle(other, {2000000, 2000000, true, false}).get())));
  ASSERT_TRUE(WriteTestFile(dir + "/b.p12", Der(Bundle(other, {2000000, 2, true, false}).get())));
  ASSERT_TRUE(WriteTestFile(dir + "/c.p12", Pkcs12(good, "")));
  // At the bound it is opened (and found broken: its key's parameters were rewritten).
  ASSERT_TRUE(WriteTestFile(dir + "/d.p12", Der(Bundle(other, {2, 1000000, false, false}).get())));
  TScriptedDialogs dialogs;
  TLogCapture log;
  std::vector<TStoredCert> store = ReadCertFolder(dir, dialogs);
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].Origin, "c.p12");
  for (const char* name : {"a.p12", "b.p12"})
    EXPECT_TRUE(log.HasLine(std::string("CertStore - ") + name +
                            ": skipped, its key derivation asks for more than 1000000 rounds"));
  EXPECT_TRUE(log.HasLine("CertStore - d.p12: skipped, the bundle cannot be read"));
  EXPECT_TRUE(dialogs.Shown().empty());
}

TEST(CertStore, AStopEndsTheReadingBeforeTheNextFileOrPassphrase) {
  TTestCert cert = TTestCA("CA").Issue("c");
  const std::string dir = TestRoot() + "/stopped";
  ASSERT_TRUE(WriteTestFile(dir + "/a.p12", Pkcs12(cert, "locked")));
  ASSERT_TRUE(WriteTestFile(dir + "/b.pem", CertPem(cert) + KeyPem(cert)));
  TScriptedDialogs dialogs;
  // Asked before a.p12, then before its passphrase.
  int checks = 0;
  EXPECT_TRUE(ReadCertFolder(dir, dialogs, [&] { return ++checks > 1; }).empty());
  EXPECT_TRUE(dialogs.Shown().empty());
  EXPECT_EQ(checks, 3);  // and before b.pem, which is not read
}

}  // namespace
}  // namespace vantrel::test
