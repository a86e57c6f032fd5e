// Whether the tunnel trusts the gateway it reached, for both protocols against the reference
// gateway with certificates made here: the trust store, the name, the user's answer and pins,
// and bad certificates. A refused gateway never receives the tunnel request (the cookie).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "diag/Exceptions.h"
#include "platform/Dialogs.h"
#include "platform/Settings.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"
#include "testpeer/PeerTls.h"
#include "tls/ServerTrust.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using TKeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

// An environment variable for one scope; the previous value comes back afterwards.
class TScopedEnv {
 public:
  TScopedEnv(const char* prmName, const char* prmValue) : m_Name(prmName) {
    if (const char* old = std::getenv(prmName)) m_Old = old;
    if (prmValue)
      setenv(prmName, prmValue, 1);
    else
      unsetenv(prmName);
  }
  ~TScopedEnv() {
    if (m_Old)
      setenv(m_Name, m_Old->c_str(), 1);
    else
      unsetenv(m_Name);
  }

 private:
  const char* m_Name;
  std::optional<std::string> m_Old;
};

TKeyPtr EcKey() {
  return TKeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

struct TCertFields {
  std::string CommonName = "gateway";
  std::string SubjectAltName;  // as in a config file: "DNS:x,IP:y"; empty: none
  std::string RawDnsName;      // a DNS name added byte for byte (may hold a NUL)
  bool CA = false;
  const char* NotBefore = nullptr;  // "YYYYMMDDHHMMSSZ"; default: an hour ago
  const char* NotAfter = nullptr;   // default: in a year
};

TCertPtr MakeCert(EVP_PKEY* prmKey, const TCertFields& prmFields, X509* prmIssuer,
                  EVP_PKEY* prmIssuerKey) {
  static long serial = 1;
  TCertPtr cert(X509_new(), X509_free);
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
  if (prmFields.NotBefore)
    ASN1_TIME_set_string(X509_getm_notBefore(c), prmFields.NotBefore);
  else
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  if (prmFields.NotAfter)
    ASN1_TIME_set_string(X509_getm_notAfter(c), prmFields.NotAfter);
  else
    X509_gmtime_adj(X509_getm_notAfter(c), 365L * 24 * 3600);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(prmFields.CommonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(c, prmIssuer ? X509_get_subject_name(prmIssuer) : name);
  X509_set_pubkey(c, prmKey);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, prmIssuer ? prmIssuer : c, c, nullptr, nullptr, 0);
  auto add = [&](int prmNid, const std::string& prmValue) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, prmNid, prmValue.c_str());
    ASSERT_NE(ext, nullptr) << prmValue;
    X509_add_ext(c, ext, -1);
    X509_EXTENSION_free(ext);
  };
  add(NID_basic_constraints, prmFields.CA ? "critical,CA:TRUE" : "CA:FALSE");
  if (!prmFields.SubjectAltName.empty()) add(NID_subject_alt_name, prmFields.SubjectAltName);
  if (!prmFields.RawDnsName.empty()) {
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    GENERAL_NAME* gn = GENERAL_NAME_new();
    ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
    ASN1_STRING_set(dns, prmFields.RawDnsName.data(),
                    static_cast<int>(prmFields.RawDnsName.size()));
    GENERAL_NAME_set0_value(gn, GEN_DNS, dns);
    sk_GENERAL_NAME_push(names, gn);
    X509_add1_ext_i2d(c, NID_subject_alt_name, names, 0, X509V3_ADD_DEFAULT);
    GENERAL_NAMES_free(names);
  }
  X509_sign(c, prmIssuerKey ? prmIssuerKey : prmKey, EVP_sha256());
  return cert;
}

void WritePem(const std::string& prmPath, const std::vector<X509*>& prmCerts,
              EVP_PKEY* prmKey = nullptr) {
  FILE* f = std::fopen(prmPath.c_str(), "w");
  ASSERT_NE(f, nullptr);
  for (X509* c : prmCerts) PEM_write_X509(f, c);
  if (prmKey) PEM_write_PrivateKey(f, prmKey, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
}

enum class TLeaf {
  CaSigned,
  CaSignedOtherName,
  SelfSigned,
  AbsurdDates,
  NulInName,
  LongChain,
  WeakKey
};
enum class TSetup { None, PrivateStore, PinnedInSettings, OtherKeyRemembered, PinFileIsLink };

struct TCase {
  const char* Name;
  const char* Host;
  TLeaf Leaf;
  TSetup Setup;
  std::optional<int> Answer;  // scripted dialog answer: IDOK once, IDYES remember, IDNO refuse
  bool DialogShown;
  bool Connects;
  const char* Reason;  // part of the refusal's error, or of the reason the dialog showed
};

// The gateway's certificate and the client's trust, made fresh for each case.
class TTrustWorld {
 public:
  explicit TTrustWorld(const TCase& prmCase)
      : m_Dir(TestRoot() + "/trust"),
        m_CaKey(EcKey()),
        m_Ca(nullptr, X509_free),
        m_Key(prmCase.Leaf == TLeaf::WeakKey ? EVP_RSA_gen(1024) : testpeer::NewPeerKey(),
              EVP_PKEY_free) {
    std::filesystem::remove_all(m_Dir);
    std::filesystem::create_directories(m_Dir);
    std::filesystem::create_directories(ConfigDir());
    std::filesystem::remove(PinFile());
    std::filesystem::remove(ConfigDir() + "/settings.ini");
    TCertFields caFields;
    caFields.CommonName = "Test CA";
    caFields.CA = true;
    m_Ca = MakeCert(m_CaKey.get(), caFields, nullptr, nullptr);
    WritePem(CaFile(), {m_Ca.get()});
    MakeLeaf(prmCase.Leaf);
    Prepare(prmCase.Setup);
  }
  ~TTrustWorld() {
    std::filesystem::remove(PinFile());
    std::filesystem::remove(ConfigDir() + "/settings.ini");
  }

  std::string CertFile() const { return m_Dir + "/gateway.pem"; }
  std::string CaFile() const { return m_Dir + "/ca.pem"; }
  static std::string PinFile() { return ConfigDir() + "/known_gateways"; }
  bool PrivateStore() const { return m_PrivateStore; }
  std::string KeyFingerprint() const { return PublicKeyFingerprint(m_Key.get()); }

 private:
  void MakeLeaf(TLeaf prmLeaf) {
    TCertFields fields;
    fields.SubjectAltName = "DNS:localhost,IP:127.0.0.1";
    X509* issuer = m_Ca.get();
    EVP_PKEY* issuerKey = m_CaKey.get();
    std::vector<TCertPtr> extra;
    switch (prmLeaf) {
      case TLeaf::CaSigned:
      case TLeaf::WeakKey:
        break;
      case TLeaf::CaSignedOtherName:
        fields.SubjectAltName = "DNS:gateway.example";
        break;
      case TLeaf::SelfSigned:
        issuer = nullptr;
        issuerKey = nullptr;
        break;
      case TLeaf::AbsurdDates:
        fields.NotBefore = "99991231235959Z";
        fields.NotAfter = "19500101000000Z";
        break;
      case TLeaf::NulInName:
        fields.SubjectAltName.clear();
        fields.CommonName = "localhost";
        fields.RawDnsName = std::string("localhost\0.evil.example", 23);
        break;
      case TLeaf::LongChain: {
        TKeyPtr k = EcKey();
        for (int i = 0; i < 300; ++i) {
          TCertFields s;
          s.CommonName = "intermediate " + std::to_string(i);
          s.CA = true;
          extra.push_back(MakeCert(k.get(), s, m_Ca.get(), m_CaKey.get()));
        }
        break;
      }
    }
    TCertPtr leaf = MakeCert(m_Key.get(), fields, issuer, issuerKey);
    std::vector<X509*> chain{leaf.get()};
    for (auto& c : extra) chain.push_back(c.get());
    WritePem(CertFile(), chain, m_Key.get());
  }

  void Prepare(TSetup prmSetup) {
    std::string self = PublicKeyFingerprint(m_Key.get());
    TKeyPtr other = EcKey();
    switch (prmSetup) {
      case TSetup::None:
        break;
      case TSetup::PrivateStore:
        m_PrivateStore = true;
        break;
      case TSetup::PinnedInSettings:
        std::ofstream(ConfigDir() + "/settings.ini") << "GatewayPin=" << self << "\n";
        break;
      case TSetup::OtherKeyRemembered:
      case TSetup::PinFileIsLink: {
        // Any port of the gateway: the line names the one the case connects to.
        std::string target = prmSetup == TSetup::PinFileIsLink ? m_Dir + "/pins" : PinFile();
        m_PinLine = PublicKeyFingerprint(other.get());
        std::ofstream(target) << "# pins\n";
        chmod(target.c_str(), 0600);
        if (prmSetup == TSetup::PinFileIsLink) symlink(target.c_str(), PinFile().c_str());
        break;
      }
    }
  }

 public:
  // Adds the remembered line for prmHost:prmPort (the other key) once the port is known.
  void Remember(const std::string& prmHost, int prmPort) {
    if (m_PinLine.empty()) return;
    std::ofstream(PinFile(), std::ios::app)
        << prmHost << " " << prmPort << " " << m_PinLine << " 2026-01-01T00:00:00Z\n";
  }

 private:
  std::string m_Dir;
  TKeyPtr m_CaKey;
  TCertPtr m_Ca;
  TKeyPtr m_Key;
  bool m_PrivateStore = false;
  std::string m_PinLine;
};

TYPED_TEST_SUITE(TTunnelTest, TProtocols, TProtocolNames);

TYPED_TEST(TTunnelTest, TheGatewayIsTrustedOnlyAsTheTrustStoreTheUserOrAPinSays) {
  const TCase cases[] = {
      {"trusted chain", "127.0.0.1", TLeaf::CaSigned, TSetup::PrivateStore, {}, false, true, ""},
      {"trusted chain by name",
       "localhost",
       TLeaf::CaSigned,
       TSetup::PrivateStore,
       {},
       false,
       true,
       ""},
      {"wrong name", "localhost", TLeaf::CaSignedOtherName, TSetup::PrivateStore, IDNO, true, false,
       "hostname mismatch"},
      {"unknown issuer, accepted once", "127.0.0.1", TLeaf::SelfSigned, TSetup::None, IDOK, true,
       true, "signed certificate"},
      {"unknown issuer, remembered", "127.0.0.1", TLeaf::SelfSigned, TSetup::None, IDYES, true,
       true, "signed certificate"},
      {"no answer",
       "127.0.0.1",
       TLeaf::SelfSigned,
       TSetup::None,
       {},
       true,
       false,
       "refused by the user"},
      {"changed key", "127.0.0.1", TLeaf::SelfSigned, TSetup::OtherKeyRemembered, IDOK, false,
       false, "key changed"},
      {"pinned in settings",
       "127.0.0.1",
       TLeaf::SelfSigned,
       TSetup::PinnedInSettings,
       {},
       false,
       true,
       ""},
      {"absurd dates", "127.0.0.1", TLeaf::AbsurdDates, TSetup::PrivateStore, IDNO, true, false,
       "not yet valid"},
      {"NUL inside the name", "localhost", TLeaf::NulInName, TSetup::PrivateStore, IDNO, true,
       false, "hostname mismatch"},
      {"trusted chain, weak key", "127.0.0.1", TLeaf::WeakKey, TSetup::PrivateStore, IDNO, true,
       false, "too weak"},
      {"hundreds of certificates", "127.0.0.1", TLeaf::LongChain, TSetup::PrivateStore, IDOK, false,
       false, ""},
      {"pin file is a link", "127.0.0.1", TLeaf::SelfSigned, TSetup::PinFileIsLink, IDOK, false,
       false, "is a link"},
  };
  // The run's administrator pin would accept the reference peers' key in every case.
  TScopedEnv noPin("VANTREL_GATEWAY_PIN", nullptr);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTrustWorld world(c);
    TScopedEnv store("VANTREL_CA_FILE", world.PrivateStore() ? world.CaFile().c_str() : nullptr);
    testpeer::TGatewayScenario sc;
    sc.CertFile = world.CertFile();
    try {
      this->StartPeer(sc);
    } catch (const EBaseException& e) {
      FAIL() << e.GetMsg();
    }
    world.Remember(c.Host, this->m_Port);
    this->m_Mng.reset();  // one manager at a time
    this->m_Mng = TypeParam::Make(c.Host, this->m_Port);
    TScriptedDialogs dialogs;
    if (c.Answer) dialogs.PushResult(*c.Answer);
    this->m_Mng->Link().SetDialogs(&dialogs);

    std::string error = InitError(*this->m_Mng);
    auto shown = dialogs.Shown();
    ASSERT_EQ(shown.size(), c.DialogShown ? 1u : 0u);
    if (c.DialogShown) {
      const TServerCertInfo& info = shown[0].ServerCert;
      EXPECT_EQ(info.Fingerprint, world.KeyFingerprint());
      EXPECT_EQ(info.Port, this->m_Port);
      EXPECT_NE(info.Subject.find("CN="), std::string::npos);
      EXPECT_NE((info.Reason + error).find(c.Reason), std::string::npos) << info.Reason;
      EXPECT_EQ(info.Subject.find('\0'), std::string::npos);
    }
    if (c.Connects) {
      EXPECT_EQ(error, "");
      EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
      EXPECT_FALSE(this->m_Peer->HttpRequests().empty());
    } else {
      EXPECT_NE(error, "");
      if (!c.DialogShown) {
        EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
      }
      // Nothing of the session reached the gateway.
      EXPECT_TRUE(this->m_Peer->HttpRequests().empty());
      EXPECT_FALSE(this->m_Mng->IsReady(0));
    }
    bool remembered = std::filesystem::exists(TTrustWorld::PinFile()) &&
                      c.Setup != TSetup::OtherKeyRemembered && c.Setup != TSetup::PinFileIsLink;
    EXPECT_EQ(remembered, c.Answer == IDYES);
    if (c.Answer == IDYES) {
      // The remembered key is trusted without asking again.
      this->m_Mng.reset();
      this->m_Mng = TypeParam::Make(c.Host, this->m_Port);
      TScriptedDialogs again;
      this->m_Mng->Link().SetDialogs(&again);
      EXPECT_EQ(InitError(*this->m_Mng), "");
      EXPECT_TRUE(again.Shown().empty());
      struct stat st {};
      ASSERT_EQ(stat(TTrustWorld::PinFile().c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    this->TearDown();
  }
}

}  // namespace
}  // namespace vantrel::test
