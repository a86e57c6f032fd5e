// Both tunnel protocols against a gateway that requires a client certificate from its CA: the
// certificate in a PKCS#12 file, its key on a SoftHSM token, both together in the list, through a
// proxy, and the wrong passphrase or PIN ending the set-up with a clear message.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/CertStore.h"
#include "platform/Dialogs.h"
#include "support/ScriptedDialogs.h"
#include "support/TestCerts.h"
#include "support/TestEnv.h"
#include "testpeer/ProxyPeerSquid.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using TAnswer = TScriptedDialogs::TAnswer;
const char* const kSoftHsm = "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so";
const char* const kPin = "1234";
const char* const kPassphrase = "p12-pass";
const char* const kNoCertificate =
    "For security reasons a digital certificate is needed. No matching certificates were found";

// The CA, a SoftHSM token "vantrel-test" holding "card" and an empty token folder; made once.
struct TCertWorld {
  std::string Root = TestRoot() + "/clientcert";
  std::string CAFile = Root + "/ca.pem";
  std::string TokenConf = Root + "/token.conf";
  std::string EmptyConf = Root + "/empty.conf";
  TTestCA CA{"Gateway Client CA"};
  TTestCert User = CA.Issue("user");

  TCertWorld() {
    TTestCert card = CA.Issue("card");
    WriteTestFile(CAFile, CertPem(CA.Own()));
    WriteTestFile(Root + "/card.key", KeyPem(card));
    WriteTestFile(Root + "/card.der", CertDer(card));
    for (const char* name : {"tokens", "empty"})
      std::filesystem::create_directories(Root + "/" + name);
    WriteTestFile(TokenConf, "directories.tokendir = " + Root + "/tokens\n");
    WriteTestFile(EmptyConf, "directories.tokendir = " + Root + "/empty\n");
    setenv("SOFTHSM2_CONF", TokenConf.c_str(), 1);
    std::string quiet = " >/dev/null 2>&1";
    Ok("softhsm2-util --init-token --free --label vantrel-test --pin " + std::string(kPin) +
       " --so-pin 123456" + quiet);
    Ok("softhsm2-util --import " + Root + "/card.key --token vantrel-test --label card --id 01 " +
       "--pin " + kPin + quiet);
    Ok("pkcs11-tool --module " + std::string(kSoftHsm) + " --token-label vantrel-test --login " +
       "--pin " + kPin + " --write-object " + Root + "/card.der --type cert --id 01 --label card" +
       quiet);
  }
  void Ok(const std::string& prmCommand) {
    ASSERT_EQ(std::system(prmCommand.c_str()), 0) << prmCommand;
  }
};

TCertWorld& World() {
  static TCertWorld world;
  return world;
}

struct TCase {
  const char* Name;
  bool P12File, Token, Proxy;
  std::vector<TAnswer> Answers;
  std::string Error;                    // empty: the tunnel comes up
  std::string Subject;                  // what the gateway received
  std::vector<std::string> Messages;    // message boxes, in order
  std::vector<size_t> ListsShown = {};  // rows of each certificate list
};

TAnswer Secret(const char* prmText) {
  return {IDOK, {}, prmText, {}, 0};
}
TAnswer Row(int prmIndex) {
  return {IDOK, {}, {}, {}, prmIndex};
}

template <typename TProto>
class ClientCertTest : public TTunnelTest<TProto> {};
TYPED_TEST_SUITE(ClientCertTest, TProtocols, TProtocolNames);

TYPED_TEST(ClientCertTest, SessionsWithTheUsersCertificate) {
  TCertWorld& w = World();
  const std::string failed = "Failed to connect to gateway (SSL failed)";
  std::vector<TCase> cases = {
      {"PKCS#12 file", true, false, false, {Secret(kPassphrase)}, "", "/CN=user", {}},
      {"key on the token", false, true, false, {Secret(kPin)}, "", "/CN=card", {}},
      {"files first, then tokens",
       true,
       true,
       false,
       {Secret(kPassphrase), Row(1), Secret(kPin)},
       "",
       "/CN=card",
       {},
       {2}},
      {"through a proxy",
       true,
       false,
       true,
       {TAnswer{IDOK, "alice", "right-pass", {}, 0}, Secret(kPassphrase)},
       "",
       "/CN=user",
       {}},
      {"wrong passphrase",
       true,
       false,
       false,
       {Secret("guess")},
       failed,
       "",
       {"The passphrase for user.p12 is not correct", kNoCertificate}},
      {"wrong PIN",
       false,
       true,
       false,
       {Secret("0000")},
       failed,
       "",
       {"The PIN for vantrel-test was not accepted"}},
  };
  std::unique_ptr<testpeer::TProxyPeerSquid> squid;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(CertFolder());
    if (c.P12File) {
      ASSERT_TRUE(WriteTestFile(CertFolder() + "/user.p12", Pkcs12(w.User, kPassphrase)));
    }
    setenv("SOFTHSM2_CONF", (c.Token ? w.TokenConf : w.EmptyConf).c_str(), 1);
    testpeer::TGatewayScenario sc;
    sc.RequireClientCert = true;
    sc.ClientCAFile = w.CAFile;
    this->StartPeer(sc);
    TScriptedDialogs dialogs;
    for (const TAnswer& a : c.Answers) dialogs.Push(a);
    if (c.Proxy) {
      // Each protocol meets the order of offers in which it answers Basic.
      const bool first = TypeParam::kProtocol == testpeer::TProtocol::First;
      if (!squid)
        squid = std::make_unique<testpeer::TProxyPeerSquid>(
            "certs", first ? std::string(testpeer::kSquidNtlm) + testpeer::kSquidBasic
                           : std::string(testpeer::kSquidBasic) + testpeer::kSquidNtlm);
      ASSERT_EQ(squid->WaitReady(), "");
      // Credentials another test saved would answer the proxy instead of the login dialog.
      std::filesystem::remove_all(std::string(getenv("TMPDIR")) + "/VPN-" +
                                  std::to_string(getuid()));
      this->m_Mng->Link().Proxies().SetProxy("127.0.0.1", squid->Port());
    }
    this->m_Mng->Link().SetDialogs(&dialogs);
    std::string error;
    try {
      this->m_Mng->InitControlConnection();
      EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
    } catch (const EBaseException& e) {
      error = e.GetMsg();
    }
    EXPECT_EQ(error, c.Error);
    std::string subject = this->m_Peer->ClientCertSubject();
    EXPECT_EQ(subject.substr(subject.rfind('/') == std::string::npos ? 0 : subject.rfind('/')),
              c.Subject);
    std::vector<std::string> messages;
    std::vector<size_t> lists;
    for (const auto& s : dialogs.Shown()) {
      if (s.Kind == TScriptedDialogs::TKind::MessageBox) messages.push_back(s.Text);
      if (s.Kind == TScriptedDialogs::TKind::SelectCertificate) lists.push_back(s.Rows.size());
    }
    EXPECT_EQ(messages, c.Messages);
    EXPECT_EQ(lists, c.ListsShown);
    EXPECT_EQ(dialogs.Pending(), 0u);
    this->TearDown();
  }
  std::filesystem::remove_all(CertFolder());
}

}  // namespace
}  // namespace vantrel::test
