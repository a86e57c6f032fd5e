// Each evaluator over set probe answers: its results and what it tells the gateway.
#include <gtest/gtest.h>

#include <functional>

#include "verify/Handlers.h"
#include "verify/VerifyTestKit.h"

namespace vantrel::test {
namespace {

struct TEvalCase {
  const char* Name;
  const char* Tag;
  std::function<void(TFakeProbes&)> Setup;
  std::vector<std::string> Results;
  std::vector<std::string> Logged;
};

void PrintTo(const TEvalCase& prmCase, std::ostream* prmOut) {
  *prmOut << prmCase.Name;
}

class Evaluators : public ::testing::TestWithParam<TEvalCase> {};

TEST_P(Evaluators, AnswerFromProbes) {
  const TEvalCase& c = GetParam();
  TFakeProbes probes;
  if (c.Setup) c.Setup(probes);
  TRecordingLog log;
  TVerifyContext ctx{&log, nullptr, &probes};
  TXmlDoc doc = TXmlDoc::Parse(std::string("<Eval><") + c.Tag + ">p</" + c.Tag + "></Eval>");
  const CLVEvalBase* evaluator = FindEvalHandler(doc.Root());
  ASSERT_NE(evaluator, nullptr);
  TRuleParams params{{"p", "set"}};
  EXPECT_EQ(evaluator->Eval(ctx, params, doc.Root().Children()[0]), c.Results);
  EXPECT_EQ(log.Texts(), c.Logged);
}

const char* const kNoFw = "Firewall policy failure - no firewall detected";
const char* const kNoFwOn = "Firewall policy failure - no enabled firewall detected";
const char* const kNoAv = "Anti-Virus policy failure, no anti-virus detected";
const char* const kNoAvNew = "Anti-Virus policy failure, no up-to-date anti-virus detected";

void WiredZero(TFakeProbes& p) {
  p.AdapterList = {{"eth0", ADAPTER_ETHERNET, {"0.0.0.0"}},
                   {"lo", ADAPTER_LOOPBACK, {"127.0.0.1"}}};
}
void WiredUp(TFakeProbes& p) {
  p.AdapterList = {{"eth0", ADAPTER_ETHERNET, {"0.0.0.0"}},
                   {"eth1", ADAPTER_ETHERNET, {"10.1.1.1"}}};
}
void Wlan(TFakeProbes& p) {
  p.WlanState = {0,
                 0,
                 {{"wlan0", WLAN_DISCONNECTED, "", 0},
                  {"wlan1", WLAN_AUTHENTICATING, "Office", 0},
                  {"wlan2", WLAN_CONNECTED, "Home", 0}}};
}
void AvOnly(TFakeProbes& p) {
  p.Classes[WSC_NAMESPACE2][WSC_ANTIVIRUS] = {Antivirus("ClamAV", "1", "TRUE")};
}
void PlatformFwOn(TFakeProbes& p) {
  p.Firewall = TPlatformFirewall{"nftables", true};
}

INSTANTIATE_TEST_SUITE_P(
    Tags, Evaluators,
    ::testing::Values(
        TEvalCase{"OsType", "ostype", nullptr, {"Linux"}, {}},
        TEvalCase{"ZeroAddressNotWired", "networktype", WiredZero, {}, {}},
        TEvalCase{"WiredWithoutWlanService", "networktype", WiredUp, {"Wired"}, {}},
        TEvalCase{"WiredAndWifi",
                  "networktype",
                  [](TFakeProbes& p) { WiredUp(p), Wlan(p); },
                  {"Wired", "WiFi"},
                  {}},
        TEvalCase{"WlanEnumFails",
                  "networktype",
                  [](TFakeProbes& p) {
                    p.WlanState = {0, 5, {}};
                  },
                  {},
                  {}},
        TEvalCase{"SsidsOfActiveInterfaces", "wifissid", Wlan, {"Office", "Home"}, {}},
        TEvalCase{"SsidQueryFailureEnds",
                  "wifissid",
                  [](TFakeProbes& p) {
                    Wlan(p);
                    p.WlanState.Interfaces[1].QueryError = 5;
                  },
                  {},
                  {}},
        TEvalCase{"SsidNoService", "wifissid", nullptr, {}, {}},
        TEvalCase{"ParamSet", "param", nullptr, {"set"}, {}},
        TEvalCase{"WinscPoor",
                  "winsc",
                  nullptr,
                  {"Poor"},
                  {"Windows Security Certer Result:Poor\n",
                   "FirewallProduct LastError:0 health:0 count:0",
                   "AntiVirusProduct LastError:0 health:0 count:0"}},
        TEvalCase{"WinscGoodAvOnly",
                  "winsc",
                  AvOnly,
                  {"Good"},
                  {"Windows Security Certer Result:Good\n",
                   "FirewallProduct LastError:0 health:1 count:0",
                   "AntiVirusProduct LastError:0 health:0 count:1"}},
        TEvalCase{"WinscCountsPlatformFirewall",
                  "winsc",
                  [](TFakeProbes& p) { AvOnly(p), PlatformFwOn(p); },
                  {"Excellent"},
                  {"Windows Security Certer Result:Excellent\n",
                   "FirewallProduct LastError:0 health:1 count:0",
                   "AntiVirusProduct LastError:0 health:0 count:1"}},
        TEvalCase{"FirewallNone",
                  "firewall",
                  nullptr,
                  {"Not FWInstalled", "Not Enabled"},
                  {kNoFw, kNoFwOn}},
        TEvalCase{"FirewallPlatformOnly", "firewall", PlatformFwOn, {"FWInstalled", "Enabled"}, {}},
        TEvalCase{"FirewallProductDisabled",
                  "firewall",
                  [](TFakeProbes& p) {
                    p.Classes[WSC_NAMESPACE1][WSC_FIREWALL] = {Firewall("ufw", "1", "false")};
                  },
                  {"FWInstalled", "Not Enabled"},
                  {kNoFwOn}},
        TEvalCase{"FirewallHealthGood",
                  "firewall",
                  [](TFakeProbes& p) { p.Health = 0; },
                  {"Not FWInstalled", "Enabled"},
                  {kNoFw}},
        TEvalCase{"AntivirusNone",
                  "antivirus",
                  nullptr,
                  {"Not AVInstalled", "Not Up-To-Date"},
                  {kNoAv, kNoAvNew}},
        TEvalCase{"AntivirusCurrent", "antivirus", AvOnly, {"AVInstalled", "Up-To-Date"}, {}},
        TEvalCase{"AntivirusHealthGoodNoInstance",
                  "antivirus",
                  [](TFakeProbes& p) { p.Health = 0; },
                  {"Up-To-Date"},
                  {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Evaluators, ParamUnsetOrEmptyNameGivesNothing) {
  TVerifyContext ctx;
  TRuleParams params{{"p", ""}};
  for (const char* text : {"<param/>", "<param>p</param>", "<param>q</param>"}) {
    TXmlDoc doc = TXmlDoc::Parse(text);
    EXPECT_TRUE(BuiltinEvaluators()[3]->Eval(ctx, params, doc.Root()).empty()) << text;
  }
}

}  // namespace
}  // namespace vantrel::test
