// The evaluators a rule's conditions name.
#include "diag/DebugLog.h"
#include "verify/Handlers.h"
#include "verify/SecurityInventory.h"

namespace vantrel {

namespace {

using TResults = std::vector<std::string>;

void SendGateway(const TVerifyContext& prmCtx, int prmLevel, const std::string& prmText) {
  if (prmCtx.Protocol) prmCtx.Protocol->SendLogMsg(prmLevel, CLV_PROTOCOL, prmText);
}

// The WLAN interfaces, or none (logged) when the service or the list cannot be read.
bool ReadWlan(IProbes& prmProbes, TWlanState& prmState) {
  prmState = prmProbes.Wlan();
  if (prmState.OpenError != 0) {
    WriteDebugLog("Error Open CLient" + std::to_string(prmState.OpenError));
    return false;
  }
  if (prmState.EnumError != 0) {
    WriteDebugLog("Error Enum Interfaces " + std::to_string(prmState.EnumError));
    return false;
  }
  return true;
}

// A security-centre check passes when prmFound, or else when the provider reports good health.
bool Healthy(IProbes& prmProbes, int prmProvider, bool prmFound) {
  int health = prmFound ? WSC_HEALTH_GOOD : WSC_HEALTH_POOR;
  if (!prmFound) prmProbes.GetSecurityProviderHealth(prmProvider, health);
  return health == WSC_HEALTH_GOOD;
}

// What one check adds: Pass when it passed (nothing when null); else Fail, and Why is sent to the
// gateway's log at Level.
struct TCheckTexts {
  const char* Pass;
  const char* Fail;
  int Level;
  const char* Why;
};

void AddCheck(const TVerifyContext& prmCtx, TResults& prmResults, bool prmPassed,
              const TCheckTexts& prmTexts) {
  if (prmPassed) {
    if (prmTexts.Pass != nullptr) prmResults.push_back(prmTexts.Pass);
    return;
  }
  SendGateway(prmCtx, prmTexts.Level, prmTexts.Why);
  prmResults.push_back(prmTexts.Fail);
}

class CLVEvalOSType : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "ostype"; }
  // The endpoint reports its real platform, so a policy never mistakes it for another.
  TResults Eval(const TVerifyContext&, TRuleParams&, TXmlNode) const override { return {"Linux"}; }
};

class CLVEvalNetType : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "networktype"; }
  TResults Eval(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    IProbes& probes = ProbesOf(prmCtx);
    TResults results;
    for (const TAdapter& adapter : probes.Adapters()) {
      if (adapter.Type != ADAPTER_ETHERNET) continue;
      bool addressed = false;
      for (const std::string& address : adapter.Addresses) addressed |= address != "0.0.0.0";
      if (addressed) {
        results.push_back("Wired");
        break;
      }
    }
    TWlanState wlan;
    if (!ReadWlan(probes, wlan)) return results;
    for (const TWlanInterface& itf : wlan.Interfaces) {
      if (itf.State == WLAN_CONNECTED || itf.State == WLAN_ASSOCIATING ||
          itf.State == WLAN_AUTHENTICATING) {
        results.push_back("WiFi");
        break;
      }
    }
    return results;
  }
};

class CLVEvalWiFiSSID : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "wifissid"; }
  TResults Eval(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    TResults results;
    TWlanState wlan;
    if (!ReadWlan(ProbesOf(prmCtx), wlan)) return results;
    for (const TWlanInterface& itf : wlan.Interfaces) {
      switch (itf.State) {
        case WLAN_NOT_READY:
        case WLAN_AD_HOC_FORMED:
        case WLAN_DISCONNECTING:
        case WLAN_DISCONNECTED:
        case WLAN_DISCOVERING:
          continue;
        default:
          break;
      }
      if (itf.QueryError != 0) {
        WriteDebugLog("Error WlanGetAvailableNetworkList " + std::to_string(itf.QueryError));
        break;
      }
      results.push_back(itf.Profile.substr(0, 256));
    }
    return results;
  }
};

class CLVEvalParam : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "param"; }
  TResults Eval(const TVerifyContext&, TRuleParams& prmParams, TXmlNode prmCond) const override {
    auto found = prmParams.find(prmCond.Text());
    if (found == prmParams.end() || found->second.empty()) return {};
    return {found->second};
  }
};

class CLVEvalWSC : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "winsc"; }
  TResults Eval(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    IProbes& probes = ProbesOf(prmCtx);
    std::vector<std::string> lines;
    int score = 0;
    int antivirus = CountBothNamespaces(probes, WSC_ANTIVIRUS);
    lines.push_back("AntiVirusProduct LastError:0 health:" + std::to_string(score) +
                    " count:" + std::to_string(antivirus));
    if (antivirus > 0) score = 1;
    int firewalls = CountBothNamespaces(probes, WSC_FIREWALL);
    lines.push_back("FirewallProduct LastError:0 health:" + std::to_string(score) +
                    " count:" + std::to_string(firewalls));
    if (firewalls == 0) {
      auto platform = probes.PlatformFirewall();
      if (platform && platform->Enabled) {
        WriteDebugLog("WscGetSecurityProviderHealth detect " + platform->Name + " firewall");
        firewalls = 1;
      }
    }
    if (firewalls > 0) ++score;
    const char* result = score == 2 ? "Excellent" : score == 1 ? "Good" : "Poor";
    lines.push_back(std::string("Windows Security Certer Result:") + result + "\n");
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
      if (prmCtx.Protocol) prmCtx.Protocol->SendLogMsg(CLV_LOG_INFORMATION, CLV_PROTOCOL, *line);
    return {result};
  }
};

class CLVEvalWSCFW : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "firewall"; }
  TResults Eval(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    IProbes& probes = ProbesOf(prmCtx);
    auto platform = probes.PlatformFirewall();
    const bool platformOn = platform && platform->Enabled;
    TResults results;
    AddCheck(prmCtx, results, CountBothNamespaces(probes, WSC_FIREWALL) > 0 || platformOn,
             {.Pass = "FWInstalled",
              .Fail = "Not FWInstalled",
              .Level = CLV_LOG_INFORMATION,
              .Why = "Firewall policy failure - no firewall detected"});
    AddCheck(prmCtx, results,
             Healthy(probes, WSC_PROVIDER_FIREWALL,
                     AnyInstanceTrue(probes, WSC_FIREWALL, "enabled") || platformOn),
             {.Pass = "Enabled",
              .Fail = "Not Enabled",
              .Level = CLV_LOG_INFORMATION,
              .Why = "Firewall policy failure - no enabled firewall detected"});
    return results;
  }
};

class CLVEvalWSCAV : public CLVEvalBase {
 public:
  std::string GetTag() const override { return "antivirus"; }
  TResults Eval(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    IProbes& probes = ProbesOf(prmCtx);
    TResults results;
    // Without a listed product, a healthy provider adds neither text.
    const bool listed = CountBothNamespaces(probes, WSC_ANTIVIRUS) > 0;
    if (listed) results.push_back("AVInstalled");
    AddCheck(prmCtx, results, Healthy(probes, WSC_PROVIDER_ANTIVIRUS, listed),
             {.Pass = nullptr,
              .Fail = "Not AVInstalled",
              .Level = CLV_LOG_WARNING,
              .Why = "Anti-Virus policy failure, no anti-virus detected"});
    AddCheck(prmCtx, results,
             Healthy(probes, WSC_PROVIDER_ANTIVIRUS,
                     AnyInstanceTrue(probes, WSC_ANTIVIRUS, "productUptoDate")),
             {.Pass = "Up-To-Date",
              .Fail = "Not Up-To-Date",
              .Level = CLV_LOG_WARNING,
              .Why = "Anti-Virus policy failure, no up-to-date anti-virus detected"});
    return results;
  }
};

}  // namespace

std::vector<const CLVEvalBase*> BuiltinEvaluators() {
  return HandlerSingletons<CLVEvalBase, CLVEvalOSType, CLVEvalNetType, CLVEvalWiFiSSID,
                           CLVEvalParam, CLVEvalWSC, CLVEvalWSCFW, CLVEvalWSCAV>();
}

}  // namespace vantrel
