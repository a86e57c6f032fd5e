// The security-product inventory sent to the gateway log: antivirus and firewall products of the
// two security-centre namespaces, each reported once, then the platform firewall.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Probes.h"
#include "verify/VerifyContext.h"

namespace vantrel {

// The context's probes, or probes that find nothing.
IProbes& ProbesOf(const TVerifyContext& prmCtx);

// Instances of the class in both namespaces.
int CountBothNamespaces(IProbes& prmProbes, const std::string& prmClass);
// True when some instance of the class, first namespace first, has prmProperty "TRUE" (any case).
bool AnyInstanceTrue(IProbes& prmProbes, const std::string& prmClass,
                     const std::string& prmProperty);

// "AV - name v.version (Up-to-date)" lines of the first namespace, then "AV - name" for products
// only the second namespace lists.
std::vector<std::string> AntivirusLines(IProbes& prmProbes);
// "FW - name v.version (Enabled)" lines of the first namespace; with prmSecondState the products
// only the second namespace lists follow with their state, otherwise as "FW - name".
std::vector<std::string> FirewallLines(IProbes& prmProbes, bool prmSecondState);
// "FW - name (Enabled)" or "FW - name (Not Enabled)"; none when the state cannot be read.
std::optional<std::string> PlatformFirewallLine(IProbes& prmProbes);

// The lines of the "winsclog" action, and the audit list of "extaudit" and the policy check.
std::vector<std::string> WinscLogLines(IProbes& prmProbes);
std::vector<std::string> AuditList(IProbes& prmProbes);

}  // namespace vantrel
