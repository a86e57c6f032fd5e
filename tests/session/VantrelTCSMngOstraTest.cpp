// The availability server's information and the catalogue request, through a scripted server.
#include "SessionTestKit.h"
#include "diag/TextCodecs.h"
#include "platform/Probes.h"
#include "support/ScriptedDialogs.h"
#include "verify/LegacyPolicy.h"
#include "verify/PolicyMask.h"

namespace vantrel::test::mng {
namespace {

std::string Info(const std::string& prmInner) {
  return "<OQN>" + prmInner + "</OQN>";
}

TEST_F(TSessionTest, ServerInformationAnswersThatFailOrPass) {
  struct TCase {
    std::vector<TScriptedServer::TReply> Replies;
    bool Ok;
    size_t Requests;
  };
  const std::string good = Info("<Version>5.1.7</Version><Instance>i</Instance>");
  const std::vector<TCase> cases = {
      // The first answer is discarded even when it is unusable.
      {{{true, "garbage"}, {true, good}}, true, 2},
      // Two unusable answers after the first one end the attempt.
      {{{true, good}, {true, "<Other/>"}, {true, "not xml"}}, false, 3},
      {{{true, good}, {true, "<Other/>"}, {true, good}}, true, 3},
      // A version whose third or fifth character is not a digit.
      {{{true, Info("<Version>4.x.3</Version><Instance>i</Instance>")}}, false, 2},
      {{{true, Info("<Version>4.0</Version><Instance>i</Instance>")}}, false, 2},
      // Without an instance.
      {{{true, Info("<Version>4.0.3</Version>")}}, false, 2},
      // A settings element the store refuses is a failed request.
      {{{true, Info("<Instance>i</Instance><Settings><keepalive>abc</keepalive></Settings>")}},
       false,
       2},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    m_Mng.reset();
    m_Server.Clear();
    Make();
    m_Server.Script("/query/info", cases[i].Replies);
    m_Server.Script("/query/hosts", {{true, kHostsReply}});
    EXPECT_EQ(Start(), cases[i].Ok) << i;
    EXPECT_EQ(m_Server.URLsFor("/query/info").size(), cases[i].Requests) << i;
  }
}

TEST_F(TSessionTest, ServerInformationFillsStoreAndAlerts) {
  Make();
  ScriptGoodServer(
      Info("<vdiauth>1</vdiauth><Instance>corp</Instance><Settings><lifetimealert>300"
           "</lifetimealert><idlealert>60</idlealert><idletimeoutkm>900</idletimeoutkm>"
           "</Settings>"));
  m_Dialogs.PushResult(IDCANCEL);
  EXPECT_TRUE(Start());
  // Without a version the server counts as 0.0.0 and the pre-login path is used.
  EXPECT_EQ(m_Mng->GetOstraServerVersion().VerMaj, 0);
  EXPECT_TRUE(m_DB.GetExtraAuth());
  EXPECT_EQ(m_DB.GetOstraInstance(), "corp");
  EXPECT_EQ(m_Mng->Context().GetLifetimeAlert(), m_DB.GetLifetimeAlert());
  EXPECT_EQ(m_Mng->Context().GetIdleAlert(), m_DB.GetIdleAlert());
  EXPECT_EQ(m_Mng->Context().GetIdleTimeoutKM(), m_DB.GetIdleTimeoutKM());
}

TEST_F(TSessionTest, CatalogueQueryCarriesItsParametersInOrder) {
  m_DB.SetOstraInstance("my inst");
  Make(PLATFORM_TYPE_PELX);
  m_Mng->SetHideDesksParams(0);
  m_Mng->SetFarmsListParams("");
  m_Mng->SetDesktopsListParams("f 1,f2");
  ScriptGoodServer();
  EXPECT_TRUE(Start());
  ASSERT_EQ(m_Server.URLsFor("/query/hosts").size(), 1u);
  EXPECT_EQ(m_Server.URLsFor("/query/hosts")[0],
            "http://10.1.1.1:8080/query/hosts?_instid=my+inst&_uname=effective&_clv=&_pid=effpw"
            "&_devtype=1&_id=" +
                FormURLEncode(m_Mng->GetDevID()) + "&_hidedesks=0&_farmslist=&_xdfarmslist=f 1,f2");

  // Not given: none of the optional parameters.
  m_Mng.reset();
  m_Server.Clear();
  Make(PLATFORM_TYPE_PELX);
  m_Mng->SetHideDesksParams(-1);
  ScriptGoodServer();
  EXPECT_TRUE(Start());
  const std::string url = m_Server.URLsFor("/query/hosts").at(0);
  EXPECT_EQ(url.find("_hidedesks"), std::string::npos);
  EXPECT_EQ(url.find("_farmslist"), std::string::npos);
}

TEST_F(TSessionTest, CatalogueFailuresReportError1AndGoOn) {
  // Plain texts in the table: gcc 12 misjudges string members of a braced case list at -O3.
  struct TCase {
    bool Ok;
    const char* Body;
    const char* Error;
  };
  static constexpr TCase kCases[] = {{false, "", "E1:"},
                                     {true, "<Hosts/>", "E1:invalid server response (protocol)"},
                                     {true, "<<<", "E1:invalid server response - "}};
  for (const TCase& c : kCases) {
    m_Mng.reset();
    m_UI.Clear();
    Make(PLATFORM_TYPE_PELX);
    m_Server.Script("/query/hosts", {TScriptedServer::TReply{c.Ok, c.Body}});
    EXPECT_TRUE(Start());
    EXPECT_EQ(m_UI.Reports("E"), (TReports{c.Error}));
    EXPECT_TRUE(m_Mng->GetHosts().empty());
  }
}

TEST_F(TSessionTest, RefusedDeviceLoadsNothing) {
  struct TCase {
    std::string Verification;
    TReports Reports;
    size_t Hosts;
  };
  for (const TCase& c :
       {TCase{"<ClientVerification DeviceID=\"2\">Failed</ClientVerification>", {"D", "E25:"}, 0},
        TCase{"<ClientVerification>Failed</ClientVerification>", {"D", "E27:"}, 0},
        TCase{"<ClientVerification>Enabled</ClientVerification>", {}, 2}}) {
    m_Mng.reset();
    m_UI.Clear();
    Make(PLATFORM_TYPE_PELX);
    std::string reply = kHostsReply;
    reply.insert(5, c.Verification);
    m_Server.Script("/query/hosts", {{true, reply}});
    EXPECT_TRUE(Start());
    TReports got;
    for (auto& r : m_UI.Reports())
      if (r[0] != 'S') got.push_back(r);
    EXPECT_EQ(got, c.Reports) << c.Verification;
    EXPECT_EQ(m_Mng->GetHosts().size(), c.Hosts);
  }
}

// The dialog runs on the window thread (this test's thread), never on the connect thread.
class TThreadCheckingDialogs : public TScriptedDialogs {
 public:
  int Login(TLoginPrompt& prmPrompt) override {
    Thread = std::this_thread::get_id();
    return TScriptedDialogs::Login(prmPrompt);
  }
  std::thread::id Thread;
};

TEST_F(TSessionTest, LaterServersGetTheDialogCredentialsAsExtraParameters) {
  TThreadCheckingDialogs dialogs;
  dialogs.PushLogin("vu", "v&p", "DOM");
  m_Mng = std::make_unique<TVantrelTCSMng>(m_UI, &m_Window, dialogs);
  m_Mng->SetAppMngFactory(
      [this](int, const TAppMngParams&) { return std::make_unique<TFakeAppMng>(m_Tunnel); });
  m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(true, "10.0"));
  m_Mng->SetGetFile(m_Server.Fn());
  m_Mng->SetPlatformType(PLATFORM_TYPE_MORV);
  m_Mng->SetDBMng(&m_DB);
  ScriptGoodServer(Info("<Version>4.0.3</Version><vdiauth>1</vdiauth><Instance>i</Instance>"));
  EXPECT_TRUE(Start());
  EXPECT_EQ(dialogs.Thread, std::this_thread::get_id());
  ASSERT_EQ(dialogs.Shown().size(), 1u);
  EXPECT_EQ(dialogs.Shown()[0].Prompt.Caption, "VDI Authentication");
  EXPECT_EQ(dialogs.Shown()[0].Prompt.ButtonText, "Ok");
  EXPECT_FALSE(dialogs.Shown()[0].Prompt.DomainVisible);
  const std::string url = m_Server.URLsFor("/query/hosts").at(0);
  EXPECT_NE(url.find("_uname=effective&_clv=&_pid=v%26p&"), std::string::npos) << url;
  EXPECT_NE(url.find("&_vdiuser=vu&_vdipwd=v%26p&_vdidomain=DOM"), std::string::npos) << url;
  m_Mng.reset();
}

TEST_F(TSessionTest, EarlierServersUseStoredOrEnteredExtraCredentials) {
  // Entered in the dialog: used, and kept in the profile base64-encoded.
  Make();
  m_Dialogs.PushLogin("xuser", "xpw");
  ScriptGoodServer(Info("<Version>4.0.2</Version><vdiauth>1</vdiauth><Instance>i</Instance>"));
  EXPECT_TRUE(Start());
  std::string url = m_Server.URLsFor("/query/hosts").at(0);
  EXPECT_NE(url.find("_uname=xuser&_clv=&_pid=xpw&"), std::string::npos) << url;
  EXPECT_EQ(url.find("_vdiuser"), std::string::npos);
  EXPECT_EQ(m_Mng->GetUserProfile(),
            (TStringList{"EXTUNAME=" + Base64Encode("xuser"), "EXTPWD=" + Base64Encode("xpw")}));

  // Already in the profile: no dialog.
  TStringList profile = m_Mng->GetUserProfile();
  m_Mng.reset();
  m_Server.Clear();
  m_DB.SetExtraAuth(false);
  Make();
  m_Mng->SetUserProfile(profile);
  ScriptGoodServer(Info("<Version>5.0.0</Version><vdiauth>1</vdiauth><Instance>i</Instance>"));
  EXPECT_TRUE(Start());
  EXPECT_EQ(m_Dialogs.Shown().size(), 1u);
  url = m_Server.URLsFor("/query/hosts").at(0);
  EXPECT_NE(url.find("_uname=xuser&_clv=&_pid=xpw&"), std::string::npos) << url;

  // Cancelled: the tunnel's credentials.
  m_Mng.reset();
  m_Server.Clear();
  m_DB.SetExtraAuth(false);
  Make();
  m_Dialogs.PushResult(IDCANCEL);
  ScriptGoodServer(Info("<Version>3.9.9</Version><vdiauth>1</vdiauth><Instance>i</Instance>"));
  EXPECT_TRUE(Start());
  url = m_Server.URLsFor("/query/hosts").at(0);
  EXPECT_NE(url.find("_uname=effective&_clv=&_pid=effpw&"), std::string::npos) << url;
  EXPECT_TRUE(m_Mng->GetUserProfile().empty());
}

// A legacy-protocol session never reads the server's version, so it answers the older servers'
// policy check, and the host-list request carries that answer masked.
TEST_F(TSessionTest, LegacySessionsAnswerThePolicyCheck) {
  m_DB.SetOstraInstance("inst 3");
  Make(PLATFORM_TYPE_PELX);
  const std::string policies = MaskText("FWEnabled,AVConfirm", DrawSalt(), ClvPolicyKey());
  m_Server.Script("/query/clientverification",
                  {{true, "<r><ClientVerification Policies=\"" + policies +
                              "\">Enabled</ClientVerification></r>"}});
  m_Server.Script("/query/hosts", {{true, kHostsReply}});
  EXPECT_TRUE(Start());
  EXPECT_EQ(
      m_Server.URLsFor("/query/clientverification"),
      std::vector<std::string>{"http://10.1.1.1:8080/query/clientverification?_instid=inst+3"});
  const std::string url = m_Server.URLsFor("/query/hosts").at(0);
  const size_t from = url.find("_clv=") + 5;
  std::string answer;
  ASSERT_TRUE(UnmaskText(FormURLDecode(url.substr(from, url.find('&', from) - from)),
                         ClvAnswerKey(), answer));
  TPolicyAnswer expected = CLVEvaluate(*CreateSystemProbes(), "FWEnabled,AVConfirm");
  EXPECT_EQ(answer, expected.Plain);
  std::vector<std::string> warnings;
  for (const auto& [level, text] : TunnelLogs())
    if (level == 4) warnings.push_back(text);
  EXPECT_EQ(warnings, expected.Failures);
}

}  // namespace
}  // namespace vantrel::test::mng
