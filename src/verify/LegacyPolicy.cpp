#include "verify/LegacyPolicy.h"

#include "diag/DebugLog.h"
#include "diag/Xml.h"
#include "verify/PolicyMask.h"
#include "verify/SecurityInventory.h"

namespace vantrel {

namespace {

bool Requested(const std::vector<std::string>& prmNames, const char* prmPolicy) {
  for (const std::string& name : prmNames)
    if (SameText(name, prmPolicy)) return true;
  return false;
}

// Health h of a provider after the product instances said nothing good.
bool HealthGood(IProbes& prmProbes, int prmProvider) {
  int health = WSC_HEALTH_POOR;
  prmProbes.GetSecurityProviderHealth(prmProvider, health);
  return health == WSC_HEALTH_GOOD;
}

bool PlatformFirewallOn(IProbes& prmProbes) {
  auto fw = prmProbes.PlatformFirewall();
  return fw && fw->Enabled;
}

struct TPolicy {
  const char* Name;
  const char* Failure;
  bool (*Check)(IProbes& prmProbes);
};

const TPolicy kPolicies[] = {
    {"AVConfirm", "Anti-Virus policy failure, no anti-virus detected",
     [](IProbes& p) {
       return CountBothNamespaces(p, WSC_ANTIVIRUS) > 0 || HealthGood(p, WSC_PROVIDER_ANTIVIRUS);
     }},
    {"AVUpToDate", "Anti-Virus policy failure, no up-to-date anti-virus detected",
     [](IProbes& p) {
       return AnyInstanceTrue(p, WSC_ANTIVIRUS, "productUptoDate") ||
              HealthGood(p, WSC_PROVIDER_ANTIVIRUS);
     }},
    {"FWConfirm", "Firewall policy failure - no firewall detected",
     [](IProbes& p) { return CountBothNamespaces(p, WSC_FIREWALL) > 0 || PlatformFirewallOn(p); }},
    {"FWEnabled", "Firewall policy failure - no enabled firewall detected",
     [](IProbes& p) {
       return AnyInstanceTrue(p, WSC_FIREWALL, "enabled") || PlatformFirewallOn(p) ||
              HealthGood(p, WSC_PROVIDER_FIREWALL);
     }},
};

}  // namespace

std::vector<std::string> SplitPolicyList(std::string_view prmList) {
  std::vector<std::string> names;
  std::string current;
  bool quoted = false;
  for (char c : prmList) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ' ' || c == '\t')) {
      if (!current.empty()) names.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

TPolicyAnswer CLVEvaluate(IProbes& prmProbes, std::string_view prmPolicyList) {
  TPolicyAnswer answer;
  std::vector<std::string> names = SplitPolicyList(prmPolicyList);
  for (const TPolicy& policy : kPolicies) {
    if (!Requested(names, policy.Name)) continue;
    bool yes = policy.Check(prmProbes);
    if (!yes) answer.Failures.push_back(policy.Failure);
    answer.Plain += std::string(policy.Name) + "=" + (yes ? "1" : "0") + ",";
  }
  answer.Masked = MaskText(answer.Plain, DrawSalt(), ClvAnswerKey());
  return answer;
}

TPolicyCheck RunPolicyCheck(const TVerifyContext& prmCtx, std::string_view prmReply,
                            const std::string& prmFetchFailure) {
  TPolicyCheck check;
  TXmlDoc doc = TXmlDoc::ParseBytes(prmReply.data(), prmReply.size());
  TXmlNode root = doc.Root();
  TXmlNode element =
      SameText(root.Name(), "ClientVerification") ? root : root.FindFirst("ClientVerification");
  if (!element) {
    WriteDebugLog("Client verification: policy reply without ClientVerification " + doc.GetError());
    check.Failure = "invalid server response - " + prmFetchFailure;
    return check;
  }
  if (element.Text() != "Enabled") return check;
  // The audit lines go out whatever ExtAudit says; it is only logged.
  WriteDebugLog("Client verification: ExtAudit=" + std::to_string(element.AttrInt("ExtAudit", 0)));
  std::string policies;
  if (!UnmaskText(element.Attr("Policies"), ClvPolicyKey(), policies)) {
    check.Failure = "invalid server response - " + prmFetchFailure;
    return check;
  }
  IProbes& probes = ProbesOf(prmCtx);
  TPolicyAnswer answer = CLVEvaluate(probes, policies);
  if (prmCtx.Protocol) {
    for (const std::string& failure : answer.Failures)
      prmCtx.Protocol->SendLogMsg(CLV_LOG_WARNING, CLV_PROTOCOL, failure);
    for (const std::string& line : AuditList(probes))
      prmCtx.Protocol->SendLogMsg(CLV_LOG_INFORMATION, CLV_PROTOCOL, line);
  }
  check.Answer = answer.Masked;
  return check;
}

}  // namespace vantrel
