// Endpoint verification in a vantreltcs session against the reference peers: the rules of a
// later availability server end the session or let it start depending on the page's answer to a
// prompt, and an older server's policy check answers with the masked text the server reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "integration/host_session.h"
#include "platform/Probes.h"
#include "verify/LegacyPolicy.h"
#include "verify/PolicyMask.h"

namespace vantrel::test {
namespace {

using host::TJson;

constexpr int kVerificationStatus = 7;
constexpr int kVerificationError = 19;
constexpr int kAccessDeniedError = 26;

// Actions run only inside a selected case; every Linux endpoint selects this one.
std::string OnLinux(const std::string& prmAction) {
  return "<Condition><Eval><ostype/></Eval><Case Value=\"Linux\">" + prmAction +
         "</Case></Condition>";
}

// One vantreltcs with its own peers, started by InitTCS.
class THostRun : public THostSession {
 public:
  void Start(testpeer::TAvailScenario prmAvail) {
    StartPeers(std::move(prmAvail), testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO));
    StartHost();
    m_Pipes.Send("{\"id\":1,\"method\":\"InitTCS\"}\n");
  }

  std::vector<int> Errors() const {
    std::vector<int> codes;
    for (const TJson& e : m_Events)
      if (e["event"] == "OnError") codes.push_back(e["args"][0].get<int>());
    return codes;
  }
  bool SawStatus(int prmStatus) const {
    for (const TJson& e : m_Events)
      if (e["event"] == "OnTCSStatusChanged" && e["args"][0] == prmStatus) return true;
    return false;
  }
};

testpeer::TAvailScenario WithRules(const std::string& prmBody) {
  testpeer::TAvailScenario sc;
  sc.Instance = "inst-7";
  sc.RulesXml =
      "<Rules><Rule><Triggers><postlogin/></Triggers><Body>" + prmBody + "</Body></Rule></Rules>";
  return sc;
}

TEST(VerifySession, TerminatingRuleEndsTheSessionWithError19) {
  THostRun run;
  run.Start(WithRules(OnLinux("<termsess/>")));
  ASSERT_TRUE(run.WaitForEvent("OnError", kAccessDeniedError));
  EXPECT_EQ(run.Errors(), (std::vector<int>{kVerificationError, kAccessDeniedError}));
  EXPECT_TRUE(run.SawStatus(kVerificationStatus));
  auto rules = run.m_Avail->WaitForRequest("/query/clientverification2", kHostHangGuardMs);
  ASSERT_TRUE(rules);
  EXPECT_EQ(rules->Param("_instid"), "inst-7");
  EXPECT_TRUE(rules->HasParam("_uname"));
  EXPECT_TRUE(run.m_Avail->Requests("/query/hosts").empty());
}

TEST(VerifySession, PromptAnswerSelectsTheLaterCase) {
  const std::string body =
      OnLinux("<promptuser Option1=\"Accept\" Param=\"agree\">Accept the policy?</promptuser>") +
      "<Condition><Eval><param>agree</param></Eval>"
      "<Case Value=\"Accept\"><log Priority=\"Information\">accepted</log></Case>"
      "<Case Value=\"No\"><termsess/></Case></Condition>";
  for (const auto& [reply, starts] : {std::pair{"yes", true}, std::pair{"no", false}}) {
    SCOPED_TRACE(reply);
    auto run = std::make_unique<THostRun>();
    run->Start(WithRules(body));
    TJson dialog;
    ASSERT_TRUE(run->ReadUntil([&](const TJson& j) {
      dialog = j;
      return j.contains("dialog");
    }));
    EXPECT_EQ(dialog["text"], "Accept the policy?");
    run->m_Pipes.Send("{\"dialog_reply\":" + dialog["id"].dump() + ",\"result\":\"" + reply +
                      "\"}\n");
    if (starts) {
      // The host list is asked for only once verification let the session go on.
      EXPECT_TRUE(run->m_Avail->WaitForRequest("/query/hosts", kHostHangGuardMs));
      run->m_Pipes.Send("{\"id\":2,\"get\":\"IsConnected\"}\n");
      TJson connected = run->Reply(2);
      ASSERT_FALSE(connected.is_discarded());
      EXPECT_EQ(connected["result"], 1);
      const std::vector<int> errors = run->Errors();
      EXPECT_EQ(std::count(errors.begin(), errors.end(), kVerificationError), 0);
    } else {
      ASSERT_TRUE(run->WaitForEvent("OnError", kAccessDeniedError));
      EXPECT_EQ(run->Errors(), (std::vector<int>{kVerificationError, kAccessDeniedError}));
    }
  }
}

TEST(VerifySession, OlderServerGetsThePolicyAnswerItCanUnmask) {
  testpeer::TAvailScenario sc;
  sc.Version = "3.5.1";
  sc.Instance = "inst-3";
  sc.PolicyText = "Enabled";
  sc.PolicyAttrs = {{"Policies", MaskText("FWEnabled,AVConfirm", DrawSalt(), ClvPolicyKey())},
                    {"ExtAudit", "1"}};
  THostRun run;
  run.Start(sc);
  auto policy = run.m_Avail->WaitForRequest("/query/clientverification", kHostHangGuardMs);
  ASSERT_TRUE(policy);
  EXPECT_EQ(policy->Param("_instid"), "inst-3");
  EXPECT_TRUE(run.m_Avail->Requests("/query/clientverification2").empty());
  ASSERT_TRUE(run.m_Avail->WaitForRequest("/query/hosts", kHostHangGuardMs));
  const std::string expected = CLVEvaluate(*CreateSystemProbes(), "FWEnabled,AVConfirm").Plain;
  EXPECT_EQ(run.m_Avail->ClvAnswers(), std::vector<std::string>{expected});
  EXPECT_TRUE(run.m_Avail->Errors().empty());
}

}  // namespace
}  // namespace vantrel::test
