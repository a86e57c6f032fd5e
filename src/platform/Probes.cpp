#include "platform/Probes.h"

#include "diag/DebugLog.h"
#include "platform/ProbesLinux.h"

namespace vantrel {

std::string AdapterTypeName(int prmType) {
  switch (prmType) {
    case ADAPTER_ETHERNET:
      return "Ethernet";
    case ADAPTER_OTHER:
      return "Other";
    case 9:
      return "Token Ring";
    case 15:
      return "FDDI";
    case ADAPTER_PPP:
      return "PPP";
    case ADAPTER_LOOPBACK:
      return "Loopback";
    case 28:
      return "SLIP";
    default:
      return "UNKNOWN";
  }
}

std::unique_ptr<IProbes> CreateSystemProbes() {
  return std::make_unique<TLinuxProbes>();
}

bool TLinuxProbes::ProductsOf(const std::string& prmNamespace, const std::string& prmClass,
                              const char* prmProbe, std::vector<TSecurityProduct>& prmProducts) {
  bool antivirus = prmClass == WSC_ANTIVIRUS;
  if ((prmNamespace != WSC_NAMESPACE1 && prmNamespace != WSC_NAMESPACE2) ||
      (!antivirus && prmClass != WSC_FIREWALL)) {
    WriteDebugLog(std::string(prmProbe) + " exception\xEF\xBC\x9Ainvalid namespace or class---" +
                  prmClass);
    return false;
  }
  // Both namespaces list the same products, so each is reported once with its details.
  for (TSecurityProduct& product : FindSecurityProducts(m_Root))
    if (product.Antivirus == antivirus) prmProducts.push_back(std::move(product));
  return true;
}

int TLinuxProbes::WSCInstCount(const std::string& prmNamespace, const std::string& prmClass) {
  std::vector<TSecurityProduct> products;
  ProductsOf(prmNamespace, prmClass, "WSCInstCount", products);
  return static_cast<int>(products.size());
}

std::string TLinuxProbes::WSCGetAttr(const std::string& prmNamespace, const std::string& prmClass,
                                     const std::string& prmProperty, int prmIndex) {
  std::vector<TSecurityProduct> products;
  if (!ProductsOf(prmNamespace, prmClass, "WSCGetAttr", products)) return {};
  if (prmIndex < 0 || static_cast<size_t>(prmIndex) >= products.size()) {
    WriteDebugLog("WSCGetAttr exception\xEF\xBC\x9Ano such instance---" + prmClass);
    return {};
  }
  const TSecurityProduct& product = products[static_cast<size_t>(prmIndex)];
  if (prmProperty == "displayName") return product.Name;
  if (prmProperty == "versionNumber") return product.Version;
  const char* stateProperty = product.Antivirus ? "productUptoDate" : "enabled";
  if (prmProperty == stateProperty) return product.Good ? "TRUE" : "FALSE";
  WriteDebugLog("WSCGetAttr exception\xEF\xBC\x9Ano property " + prmProperty + "---" + prmClass);
  return {};
}

bool TLinuxProbes::GetSecurityProviderHealth(int, int&) {
  return false;
}

std::optional<TPlatformFirewall> TLinuxProbes::PlatformFirewall() {
  std::optional<TPlatformFirewall> chosen;
  for (const TSecurityProduct& product : FindSecurityProducts(m_Root)) {
    if (product.Antivirus) continue;
    if (!chosen || (product.Good && !chosen->Enabled))
      chosen = TPlatformFirewall{product.Name, product.Good};
  }
  return chosen;
}

}  // namespace vantrel
