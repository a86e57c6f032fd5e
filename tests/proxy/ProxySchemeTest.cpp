// The scheme objects' step decisions and values, the NTLM tokens from the NTLMSSP mechanism, the
// security-package error texts and the credentials dialog's two shapes.
#include <gtest/gtest.h>

#include "diag/TextCodecs.h"
#include "platform/Dialogs.h"
#include "proxy/DProxyCred.h"
#include "proxy/MIdAuthentication.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "support/ScriptedDialogs.h"

namespace vantrel {
namespace {

TEST(ProxyScheme, BasicValues) {
  const std::string user(30, 'u'), password(29, 'p');  // a 60-character pair
  EXPECT_EQ(BasicAuthValue(user, password), "Basic " + Base64Encode(user + ":" + password));
  EXPECT_EQ(BasicAuthValue(user, password).find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(BasicAuthValue("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  // Each character as its low 8 bits: U+00E9 is one byte E9, U+0141 becomes 0x41.
  EXPECT_EQ(BasicAuthValue("\xC3\xA9", "\xC5\x81"), "Basic " + Base64Encode("\xE9:\x41"));
  EXPECT_EQ(BasicAuthValue1("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(ProxyScheme, BasicSteps) {
  struct TCase {
    const char* User;
    TIdAuthWhatsNext First;
  };
  for (const TCase& c : {TCase{"", wnAskTheProgram}, TCase{"bob", wnDoRequest}}) {
    TMIdBasicAuthentication basic;
    basic.SetUsername(c.User);
    basic.AuthParams() = {"Basic realm=\"Squid proxy\", charset=\"UTF-8\""};
    EXPECT_EQ(basic.Next(), c.First);
    EXPECT_EQ(basic.Realm(), "Squid proxy");
    EXPECT_EQ(basic.Next(), wnFail);
    EXPECT_FALSE(basic.KeepAlive());
    basic.Reset();
    EXPECT_EQ(basic.CurrentStep, 0);
    EXPECT_EQ(basic.Username(), "");
  }
}

TEST(ProxyScheme, NtlmStepsAndUserName) {
  TIdSSPINTLMAuthentication ntlm;
  EXPECT_FALSE(ntlm.KeepAlive());
  const TIdAuthWhatsNext expected[] = {wnAskTheProgram, wnDoRequest, wnDoRequest};
  for (TIdAuthWhatsNext e : expected) EXPECT_EQ(ntlm.Next(), e);
  EXPECT_TRUE(ntlm.KeepAlive());
  ntlm.CurrentStep = 3;
  EXPECT_EQ(ntlm.Next(), wnFail);

  ntlm.SetDomain("KEPT");
  ntlm.SetUsername("plain");
  EXPECT_EQ(ntlm.GetDomain(), "KEPT");
  ntlm.SetUsername("CORP\\alice\\x");
  EXPECT_EQ(ntlm.GetDomain(), "CORP");
  EXPECT_EQ(ntlm.Username(), "alice\\x");
}

TEST(ProxyScheme, ErrorTexts) {
  EXPECT_EQ(SSPIStatusText(0), "Successfull API call");
  EXPECT_EQ(
      ESSPIException("gss_init_sec_context", GSS_S_FAILURE).GetMsg(),
      "SSPI gss_init_sec_context returns error #851968(0xD0000): " + SSPIStatusText(GSS_S_FAILURE));
  EXPECT_NE(SSPIStatusText(GSS_S_FAILURE), "Unknown error");
}

// The handshake's first message from the installed mechanism: explicit credentials (domain and
// user) and the logged-on user (a user name alone is not enough for explicit credentials).
TEST(ProxyScheme, NtlmType1FromMechanism) {
  TIdSSPINTLMAuthentication ntlm;
  ntlm.Next();
  ntlm.SetUsername("CORP\\alice");
  ntlm.SetPassword("secret");
  const std::string value = ntlm.Authentication();
  ASSERT_EQ(value.rfind("NTLM ", 0), 0u) << value;
  const TBytes type1 = Base64Decode(value.substr(5));
  ASSERT_GE(type1.size(), 12u);
  EXPECT_EQ(std::string(type1.begin(), type1.begin() + 8), std::string("NTLMSSP\0", 8));
  EXPECT_EQ(type1[8], 1);

  // Step 2 without any NTLM offer: the computation gives up and starts over.
  ntlm.Next();
  EXPECT_ANY_THROW(ntlm.Authentication());
  EXPECT_EQ(ntlm.CurrentStep, 0);
}

TEST(ProxyScheme, ChallengeLayout) {
  // squid's test helper: a 40-byte header, the version flagged but absent, the target name's
  // offset pointing nowhere.
  const TBytes helper =
      Base64Decode("TlRMTVNTUAACAAAACQAJAK6qqqoHggii6dfr3DSHTjEAAAAAAAA6AFdPUktHUk9VUA==");
  TBytes full = FullChallengeLayout(helper);
  ASSERT_EQ(full.size(), 56u);
  EXPECT_EQ(TBytes(full.begin(), full.begin() + 12), TBytes(helper.begin(), helper.begin() + 12));
  EXPECT_EQ(TBytes(full.begin() + 12, full.begin() + 20), TBytes({0, 0, 0, 0, 56, 0, 0, 0}));
  EXPECT_EQ(TBytes(full.begin() + 20, full.begin() + 32),
            TBytes(helper.begin() + 20, helper.begin() + 32));
  // The same header with a sound target name: the name moves behind the full header.
  TBytes older = helper;
  older[16] = 40;
  older[17] = older[18] = older[19] = 0;
  full = FullChallengeLayout(older);
  ASSERT_EQ(full.size(), 65u);
  EXPECT_EQ(full[12], 9);
  EXPECT_EQ(full[16], 56);
  EXPECT_EQ(std::string(full.begin() + 56, full.end()), "WORKGROUP");
  EXPECT_EQ(FullChallengeLayout(full), full);
  EXPECT_EQ(FullChallengeLayout(TBytes(20, 1)), TBytes(20, 1));

  // The mechanism answers the helper's challenge.
  TIndySSPINTLMClient client("proxy");
  client.SetCredentials("CORP", "alice", "secret");
  client.InitAndBuildType1Message();
  const TBytes type3 = client.UpdateAndBuildType3Message(helper);
  ASSERT_GE(type3.size(), 12u);
  EXPECT_EQ(type3[8], 3);
}

TEST(ProxyScheme, CredentialsDialogShapes) {
  for (bool showDomain : {true, false}) {
    TScriptedDialogs dialogs;
    dialogs.PushLogin("u", "p", "d");
    TDlgProxyCred dlg(dialogs, showDomain);
    dlg.edDomain = "PRE";
    EXPECT_EQ(dlg.PanelTop(), showDomain ? 104 : 70);
    EXPECT_EQ(dlg.ClientHeight(), showDomain ? 151 : 117);
    ASSERT_EQ(dlg.ShowModal(), IDOK);
    const auto shown = dialogs.Shown().at(0);
    EXPECT_EQ(shown.Prompt.Caption, "Proxy Credentials");
    EXPECT_EQ(shown.Prompt.DomainVisible, showDomain);
    EXPECT_EQ(shown.Prompt.Domain, "PRE");
    EXPECT_EQ(dlg.edUser + dlg.edPass, "up");
    // Nothing queued: closed, which counts as Cancel.
    EXPECT_EQ(dlg.ShowModal(), IDCANCEL);
  }
}

}  // namespace
}  // namespace vantrel
