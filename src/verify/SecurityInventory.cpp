#include "verify/SecurityInventory.h"

#include <set>

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

class TNoProbes : public IProbes {
 public:
  int WSCInstCount(const std::string&, const std::string&) override { return 0; }
  std::string WSCGetAttr(const std::string&, const std::string&, const std::string&, int) override {
    return {};
  }
  bool GetSecurityProviderHealth(int, int&) override { return false; }
  std::optional<TPlatformFirewall> PlatformFirewall() override { return std::nullopt; }
  std::vector<TAdapter> Adapters() override { return {}; }
  TWlanState Wlan() override { return TWlanState{WLAN_SERVICE_ABSENT, 0, {}}; }
};

bool IsTrue(const std::string& prmText) {
  return UpperCase(prmText) == "TRUE";
}

struct TKind {
  const char* Class;
  const char* Prefix;
  const char* StateProperty;
  const char* Good;
  const char* Bad;
};

const TKind kAntivirus{WSC_ANTIVIRUS, "AV - ", "productUptoDate", "Up-to-date)", "NOT Up-to-date)"};
const TKind kFirewall{WSC_FIREWALL, "FW - ", "enabled", "Enabled)", "NOT Enabled)"};

// Lines of both namespaces: the first with version and state, then the products only the second
// lists, with their state when prmSecondState.
std::vector<std::string> ProductLines(IProbes& prmProbes, const TKind& prmKind,
                                      bool prmSecondState) {
  std::vector<std::string> lines;
  std::set<std::string> seen;
  for (int i = 0, n = prmProbes.WSCInstCount(WSC_NAMESPACE1, prmKind.Class); i < n; ++i) {
    auto attr = [&](const char* prmProperty) {
      return prmProbes.WSCGetAttr(WSC_NAMESPACE1, prmKind.Class, prmProperty, i);
    };
    std::string name = attr("displayName");
    seen.insert(name);
    lines.push_back(prmKind.Prefix + name + " v." + attr("versionNumber") + " (" +
                    (IsTrue(attr(prmKind.StateProperty)) ? prmKind.Good : prmKind.Bad));
  }
  for (int i = 0, n = prmProbes.WSCInstCount(WSC_NAMESPACE2, prmKind.Class); i < n; ++i) {
    std::string name = prmProbes.WSCGetAttr(WSC_NAMESPACE2, prmKind.Class, "displayName", i);
    if (seen.count(name)) continue;
    std::string line = prmKind.Prefix + name;
    if (prmSecondState) {
      bool good =
          IsTrue(prmProbes.WSCGetAttr(WSC_NAMESPACE2, prmKind.Class, prmKind.StateProperty, i));
      line += std::string(" (") + (good ? prmKind.Good : prmKind.Bad);
    }
    lines.push_back(line);
  }
  return lines;
}

void Append(std::vector<std::string>& prmTo, const std::vector<std::string>& prmFrom) {
  prmTo.insert(prmTo.end(), prmFrom.begin(), prmFrom.end());
}

}  // namespace

IProbes& ProbesOf(const TVerifyContext& prmCtx) {
  static TNoProbes none;
  return prmCtx.Probes ? *prmCtx.Probes : none;
}

int CountBothNamespaces(IProbes& prmProbes, const std::string& prmClass) {
  return prmProbes.WSCInstCount(WSC_NAMESPACE1, prmClass) +
         prmProbes.WSCInstCount(WSC_NAMESPACE2, prmClass);
}

bool AnyInstanceTrue(IProbes& prmProbes, const std::string& prmClass,
                     const std::string& prmProperty) {
  for (const char* ns : {WSC_NAMESPACE1, WSC_NAMESPACE2})
    for (int i = 0, n = prmProbes.WSCInstCount(ns, prmClass); i < n; ++i)
      if (IsTrue(prmProbes.WSCGetAttr(ns, prmClass, prmProperty, i))) return true;
  return false;
}

std::vector<std::string> AntivirusLines(IProbes& prmProbes) {
  return ProductLines(prmProbes, kAntivirus, false);
}

std::vector<std::string> FirewallLines(IProbes& prmProbes, bool prmSecondState) {
  return ProductLines(prmProbes, kFirewall, prmSecondState);
}

std::optional<std::string> PlatformFirewallLine(IProbes& prmProbes) {
  std::optional<TPlatformFirewall> fw = prmProbes.PlatformFirewall();
  if (!fw) return std::nullopt;
  return "FW - " + fw->Name + (fw->Enabled ? " (Enabled)" : " (Not Enabled)");
}

std::vector<std::string> WinscLogLines(IProbes& prmProbes) {
  std::vector<std::string> lines = AntivirusLines(prmProbes);
  Append(lines, FirewallLines(prmProbes, false));
  if (auto line = PlatformFirewallLine(prmProbes)) lines.push_back(*line);
  return lines;
}

std::vector<std::string> AuditList(IProbes& prmProbes) {
  std::vector<std::string> lines = AntivirusLines(prmProbes);
  Append(lines, FirewallLines(prmProbes, true));
  if (auto line = PlatformFirewallLine(prmProbes)) lines.push_back(*line);
  return lines;
}

}  // namespace vantrel
