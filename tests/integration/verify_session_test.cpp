// Endpoint verification in a vantreltcs session against the reference peers: the rules of a
// later availability server end the session or let it start depending on the page's answer to a
// prompt, and an older server's policy check answers with the masked text the server reads back.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "integration/host_pipes.h"
#include "platform/Probes.h"
#include "platform/ProcessSpawn.h"
#include "support/TestEnv.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerScenario.h"
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

// One vantreltcs with its page pipes and its own peers.
class THostRun {
 public:
  THostRun() = default;
  THostRun(const THostRun&) = delete;
  THostRun& operator=(const THostRun&) = delete;

  // Starts the peers and a Morv vantreltcs whose page is this test, then calls InitTCS.
  void Start(testpeer::TAvailScenario prmAvail) {
    m_Avail = std::make_unique<testpeer::TAvailabilityServer>(std::move(prmAvail));
    m_Avail->Start();
    m_Gateway = std::make_unique<testpeer::TGatewayPeer>(testpeer::DemoGatewayScenario(
        testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO), m_Avail->HostPort()));
    m_Gateway->Start();
    const std::string port = "sp_port=" + std::to_string(m_Gateway->Port());
    m_Pid = fork();
    ASSERT_GE(m_Pid, 0);
    if (m_Pid == 0) {
      dup2(m_Pipes.HostIn, 0);
      dup2(m_Pipes.HostOut, 1);
      execl((BinDir() + "/vantreltcs").c_str(), "vantreltcs", "--api", "stdio", "--ui", "none",
            "--param", "platform=Morv", "--param", "sp_name=127.0.0.1", "--param", port.c_str(),
            "--param", "custom_portal=1", "--param", "session_id=s1", nullptr);
      _exit(127);
    }
    m_Pipes.Send("{\"id\":1,\"method\":\"InitTCS\"}\n");
  }

  // Reads the host's lines until prmStop accepts one; every event on the way is kept. False
  // when the host went silent or closed.
  bool ReadUntil(const std::function<bool(const TJson&)>& prmStop) {
    for (;;) {
      TJson j = m_Pipes.Json();
      if (j.is_discarded()) return false;
      if (j.contains("event")) m_Events.push_back(j);
      if (prmStop(j)) return true;
    }
  }
  bool WaitForEvent(const std::string& prmName, int prmFirstArg) {
    return ReadUntil([&](const TJson& j) {
      return j.value("event", "") == prmName && j["args"][0] == prmFirstArg;
    });
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

  ~THostRun() {
    if (m_Pid > 0) {
      kill(m_Pid, SIGKILL);
      int code = 0;
      WaitProcess(m_Pid, nullptr, -1, code);
    }
  }

  TPagePipes m_Pipes;
  std::unique_ptr<testpeer::TAvailabilityServer> m_Avail;
  std::unique_ptr<testpeer::TGatewayPeer> m_Gateway;
  pid_t m_Pid = -1;
  std::vector<TJson> m_Events;
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
      TJson connected;
      ASSERT_TRUE(run->ReadUntil([&](const TJson& j) {
        connected = j;
        return j.value("id", TJson()) == 2;
      }));
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
