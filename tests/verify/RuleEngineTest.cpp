// Whole rules documents through the engine and the actions: which actions run, what reaches the
// gateway log and the user, and whether verification passes.
#include <gtest/gtest.h>

#include "platform/Dialogs.h"
#include "support/ScriptedDialogs.h"
#include "verify/Handlers.h"
#include "verify/RuleEngine.h"
#include "verify/VerifyTestKit.h"

namespace vantrel::test {
namespace {

// A rule with triggers whose body is prmBody.
std::string Rule(const std::string& prmBody) {
  return "<Rule><Triggers><postlogin/></Triggers><Body>" + prmBody + "</Body></Rule>";
}
std::string Doc(const std::string& prmRules) {
  return "<Rules>" + prmRules + "</Rules>";
}
// A condition on an evaluator (with condition text) and its cases.
std::string Cond(const std::string& prmEval, const std::string& prmCases,
                 const std::string& prmText = {}) {
  return "<Condition><Eval><" + prmEval + ">" + prmText + "</" + prmEval + "></Eval>" + prmCases +
         "</Condition>";
}
std::string Case(const std::string& prmAttr, const std::string& prmBody) {
  return "<Case " + prmAttr + ">" + prmBody + "</Case>";
}
std::string Log(const std::string& prmText) {
  return "<log Priority=\"Information\">" + prmText + "</log>";
}

struct TEngineCase {
  const char* Name;
  std::string Document;
  std::vector<int> Answers;  // dialog answers, in order
  bool Passes;
  std::vector<std::string> Logged;
};

void PrintTo(const TEngineCase& prmCase, std::ostream* prmOut) {
  *prmOut << prmCase.Name;
}

class RuleEngine : public ::testing::TestWithParam<TEngineCase> {};

TEST_P(RuleEngine, RunsTheRightActions) {
  const TEngineCase& c = GetParam();
  TFakeProbes probes;
  probes.AdapterList = {{"eth0", ADAPTER_ETHERNET, {"10.0.0.2"}}};
  probes.WlanState = {0, 0, {{"wlan0", WLAN_AUTHENTICATING, "Office", 0}}};
  TScriptedDialogs dialogs;
  for (int answer : c.Answers) dialogs.PushResult(answer);
  TRecordingLog log;
  TVerifyContext ctx{&log, &dialogs, &probes};
  EXPECT_EQ(RunRulesDocument(ctx, c.Document), c.Passes);
  EXPECT_EQ(log.Texts(), c.Logged);
}

const std::string kNetCases = Case("Value=\"Wired\"", Log("wired")) +
                              Case("Value=\"wifi\"", Log("wifi")) +
                              Case("Default=\"true\"", Log("default"));

INSTANTIATE_TEST_SUITE_P(
    Documents, RuleEngine,
    ::testing::Values(
        TEngineCase{"NoRules", "<Rules/>", {}, true, {}},
        TEngineCase{
            "NotRules", "<Other>" + Rule(Case("", "<termsess/>")) + "</Other>", {}, true, {}},
        TEngineCase{"Malformed", "<Rules><Rule>", {}, true, {}},
        TEngineCase{"NoTriggers",
                    Doc("<Rule><Body>" + Cond("ostype", Case("Value=\"Linux\"", "<termsess/>")) +
                        "</Body></Rule>"),
                    {},
                    true,
                    {}},
        TEngineCase{"ActionOutsideCase", Doc(Rule(Log("body") + "<termsess/>")), {}, true, {}},
        TEngineCase{"FirstActionOfCaseOnly",
                    Doc(Rule(Cond("ostype", Case("Value=\"linux\"", Log("a") + Log("b"))))),
                    {},
                    true,
                    {"a"}},
        TEngineCase{"UnknownActionKeepsArming",
                    Doc(Rule(Cond("ostype", Case("Value=\"Linux\"", "<nosuch/>" + Log("a"))))),
                    {},
                    true,
                    {"a"}},
        TEngineCase{"BothNetworksInDocumentOrder",
                    Doc(Rule(Cond("networktype", kNetCases))),
                    {},
                    true,
                    {"wired", "wifi"}},
        TEngineCase{"DefaultCasesOnlyExactTrue",
                    Doc(Rule(Cond("param",
                                  Case("Default=\"true\"", Log("d1")) +
                                      Case("Default=\"TRUE\"", Log("d2")) +
                                      Case("Default=\"true\"", Log("d3")),
                                  "unset"))),
                    {},
                    true,
                    {"d1", "d3"}},
        TEngineCase{"UnknownEvaluatorTakesNoDefault",
                    Doc(Rule(Cond("nosuch", Case("Default=\"true\"", "<termsess/>")))),
                    {},
                    true,
                    {}},
        TEngineCase{"EndRuleNextRuleRuns",
                    Doc(Rule(Cond("ostype", Case("Value=\"Linux\"", "<endrule/>")) +
                             Cond("ostype", Case("Value=\"Linux\"", Log("same")))) +
                        Rule(Cond("ostype", Case("Value=\"Linux\"", Log("next"))))),
                    {},
                    true,
                    {"next"}},
        TEngineCase{"TermSessStopsAllRules",
                    Doc(Rule(Cond("ostype", Case("Value=\"Linux\"", "<termsess/>"))) +
                        Rule(Cond("ostype", Case("Value=\"Linux\"", Log("later"))))),
                    {},
                    false,
                    {}},
        TEngineCase{"InnerRuleIsTheRule",
                    Doc("<Rule>" + Rule(Cond("ostype", Case("Value=\"Linux\"", "<termsess/>"))) +
                        "</Rule>"),
                    {},
                    false,
                    {}},
        TEngineCase{
            "SetParamEndsRuleParamsDoNotCarry",
            Doc(Rule(Cond("ostype", Case("Value=\"Linux\"", "<setparam Name=\"p\">v</setparam>")) +
                     Log("after")) +
                Rule(Cond("param", Case("Value=\"v\"", "<termsess/>"), "p"))),
            {},
            true,
            {}},
        TEngineCase{"PromptAnswerSelectsLaterCase",
                    Doc(Rule(Cond("ostype", Case("Value=\"Linux\"",
                                                 "<promptuser Option1=\"Accept\" Param=\"agree\" "
                                                 "LogTxt=\"Policy\">Accept?</promptuser>")) +
                             Cond("param",
                                  Case("Value=\"Accept\"", Log("accepted")) +
                                      Case("Default=\"true\"", "<termsess/>"),
                                  "agree"))),
                    {IDYES},
                    true,
                    {"Policy <Accept>", "accepted"}},
        TEngineCase{"PromptClosedStoresNothing",
                    Doc(Rule(Cond("ostype", Case("Value=\"Linux\"",
                                                 "<promptuser Param=\"agree\" "
                                                 "LogTxt=\"Policy\">Accept?</promptuser>")) +
                             Cond("param", Case("Default=\"true\"", "<termsess/>"), "agree"))),
                    {IDCANCEL},
                    false,
                    {"Policy <>"}},
        TEngineCase{
            "NestedConditionRearms",
            Doc(Rule(Cond("ostype", Case("Value=\"Linux\"",
                                         Log("outer") +
                                             Cond("ostype", Case("Value=\"Linux\"", Log("inner"))) +
                                             Log("rearmed-no"))))),
            {},
            true,
            {"outer", "inner"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Registry, OrderAndLookupIgnoreCase) {
  std::vector<std::string> evals, actions;
  for (auto* h : BuiltinEvaluators()) evals.push_back(h->GetTag());
  for (auto* h : BuiltinActions()) actions.push_back(h->GetTag());
  EXPECT_EQ(evals, (std::vector<std::string>{"ostype", "networktype", "wifissid", "param", "winsc",
                                             "firewall", "antivirus"}));
  EXPECT_EQ(actions, (std::vector<std::string>{"log", "termsess", "alertuser", "promptuser",
                                               "setparam", "endrule", "winsclog", "extaudit"}));
  TXmlDoc doc = TXmlDoc::Parse("<Eval><OSTYPE/></Eval>");
  EXPECT_EQ(FindEvalHandler(doc.Root()), BuiltinEvaluators()[0]);
  EXPECT_EQ(FindEvalHandler(doc.Root().Children()[0]), nullptr);  // no child
}

TEST(RuleEngine, ActionsReachTheirParties) {
  TFakeProbes probes;
  probes.Classes[WSC_NAMESPACE1][WSC_ANTIVIRUS] = {Antivirus("ClamAV", "1.0", "true")};
  probes.Classes[WSC_NAMESPACE2][WSC_ANTIVIRUS] = {Antivirus("ClamAV", "1.0", "true"),
                                                   Antivirus("Other", "2", "false")};
  probes.Classes[WSC_NAMESPACE2][WSC_FIREWALL] = {Firewall("ufw", "0.36", "TRUE")};
  probes.Firewall = TPlatformFirewall{"nftables", false};
  TScriptedDialogs dialogs;
  TRecordingLog log;
  TVerifyContext ctx{&log, &dialogs, &probes};
  auto runOne = [&](const std::string& prmAction) {
    log.Sent.clear();
    RunRulesDocument(ctx, Doc(Rule(Cond("ostype", Case("Value=\"Linux\"", prmAction)))));
    return log.Sent;
  };
  const std::string v6 = "VantrelTCS";
  EXPECT_EQ(runOne("<log>crit</log>"), (std::vector<TLogged>{{2, "", "crit"}}));
  EXPECT_EQ(runOne("<log Priority=\"Warning\">w</log>"), (std::vector<TLogged>{{4, "", "w"}}));
  EXPECT_EQ(runOne("<winsclog/>"), (std::vector<TLogged>{{6, v6, "AV - ClamAV v.1.0 (Up-to-date)"},
                                                         {6, v6, "AV - Other"},
                                                         {6, v6, "FW - ufw"},
                                                         {6, v6, "FW - nftables (Not Enabled)"}}));
  EXPECT_EQ(runOne("<extaudit/>")[2].Text, "FW - ufw (Enabled)");
  runOne("<alertuser>Hello</alertuser>");
  ASSERT_EQ(dialogs.Shown().size(), 1u);
  EXPECT_EQ(dialogs.Shown()[0].Text, "Hello");
  runOne("<promptuser Option2=\"Refuse\">Q</promptuser>");
  EXPECT_EQ(dialogs.Shown()[1].Buttons, (std::vector<std::string>{"Yes", "Refuse"}));
}

// Without a gateway, dialogs or probes nothing is sent and nothing breaks.
TEST(RuleEngine, NoPartiesGiven) {
  TVerifyContext ctx;
  for (const char* action : {"<log>x</log>", "<winsclog/>", "<extaudit/>", "<alertuser/>",
                             "<promptuser LogTxt=\"t\" Param=\"p\"/>"})
    EXPECT_TRUE(RunRulesDocument(
        ctx, Doc(Rule(Cond("antivirus", Case("Value=\"Not AVInstalled\"", action))))));
}

TEST(RuleEngine, HostileDocumentsEndWithAnOutcome) {
  TVerifyContext ctx;
  std::string many;
  for (int i = 0; i < 20000; ++i)
    many += Rule(Cond("ostype", Case("Value=\"Linux\"", "<unknown a=\"b\">text</unknown>")));
  EXPECT_GT(many.size(), 2u * 1024 * 1024);
  EXPECT_TRUE(RunRulesDocument(ctx, Doc(many)));

  std::string deep = "<termsess/>";
  for (int i = 0; i < 5000; ++i) deep = Cond("ostype", Case("Value=\"Linux\"", deep));
  EXPECT_TRUE(RunRulesDocument(ctx, Doc(Rule(deep))));  // too deep to reach: not run
  std::string shallow = "<termsess/>";
  for (int i = 0; i < 50; ++i) shallow = Cond("ostype", Case("Value=\"Linux\"", shallow));
  EXPECT_FALSE(RunRulesDocument(ctx, Doc(Rule(shallow))));

  EXPECT_TRUE(RunRulesDocument(ctx, std::string(CLV_MAX_RULES_BYTES + 1, '<')));
  EXPECT_TRUE(RunRulesDocument(ctx, std::string("\0\xff<Rules>", 9)));
}

}  // namespace
}  // namespace vantrel::test
