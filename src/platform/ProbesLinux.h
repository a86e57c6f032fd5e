// The probes of a Linux machine: a table of known security products found in the file system
// (listed in both security-centre namespaces), adapters from the kernel, WLAN through nl80211.
// There is no security-centre health function here. prmRoot prefixes every path read, so a test
// can point the product table at a prepared tree.
#pragma once

#include <string>

#include "platform/Probes.h"

namespace vantrel {

struct TSecurityProduct {
  bool Antivirus = false;  // else a firewall
  std::string Name;
  std::string Version;
  bool Good = false;  // antivirus: running and up to date; firewall: enabled
};

// The installed products of the table, antivirus first.
std::vector<TSecurityProduct> FindSecurityProducts(const std::string& prmRoot);

// The adapters of this machine.
std::vector<TAdapter> ReadAdapters();
// The WLAN interfaces through nl80211; OpenError WLAN_SERVICE_ABSENT without it. Bounded by a
// receive timeout, so a silent kernel cannot hold the caller.
TWlanState ReadWlanInterfaces();

class TLinuxProbes : public IProbes {
 public:
  explicit TLinuxProbes(std::string prmRoot = {}) : m_Root(std::move(prmRoot)) {}

  int WSCInstCount(const std::string& prmNamespace, const std::string& prmClass) override;
  std::string WSCGetAttr(const std::string& prmNamespace, const std::string& prmClass,
                         const std::string& prmProperty, int prmIndex) override;
  bool GetSecurityProviderHealth(int prmProvider, int& prmHealth) override;
  std::optional<TPlatformFirewall> PlatformFirewall() override;
  std::vector<TAdapter> Adapters() override { return ReadAdapters(); }
  TWlanState Wlan() override { return ReadWlanInterfaces(); }

 private:
  // The products of one class, or none (logged under prmProbe) for another namespace or class.
  bool ProductsOf(const std::string& prmNamespace, const std::string& prmClass,
                  const char* prmProbe, std::vector<TSecurityProduct>& prmProducts);

  std::string m_Root;
};

}  // namespace vantrel
