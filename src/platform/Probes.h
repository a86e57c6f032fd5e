// Facts about the endpoint that client verification tests: security products in the two
// security-centre namespaces, the security-centre health, the platform firewall, network adapters
// and WLAN interfaces. Every probe turns a failure into a neutral value and never raises.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

inline constexpr const char* WSC_NAMESPACE1 = "root\\SecurityCenter";
inline constexpr const char* WSC_NAMESPACE2 = "root\\SecurityCenter2";
inline constexpr const char* WSC_ANTIVIRUS = "AntiVirusProduct";
inline constexpr const char* WSC_FIREWALL = "FirewallProduct";

// Security-centre providers and health values.
constexpr int WSC_PROVIDER_FIREWALL = 1;
constexpr int WSC_PROVIDER_ANTIVIRUS = 4;
constexpr int WSC_HEALTH_GOOD = 0;
constexpr int WSC_HEALTH_POOR = 2;

// Adapter types.
constexpr int ADAPTER_OTHER = 1;
constexpr int ADAPTER_ETHERNET = 6;
constexpr int ADAPTER_PPP = 23;
constexpr int ADAPTER_LOOPBACK = 24;
constexpr int ADAPTER_WLAN = 71;

struct TAdapter {
  std::string Name;
  int Type = ADAPTER_OTHER;
  std::vector<std::string> Addresses;  // dotted IPv4 text; "0.0.0.0" when it has none
};
// "Ethernet", "Other", "Token Ring", "FDDI", "PPP", "Loopback", "SLIP" or "UNKNOWN".
std::string AdapterTypeName(int prmType);

// WLAN interface states.
constexpr int WLAN_NOT_READY = 0;
constexpr int WLAN_CONNECTED = 1;
constexpr int WLAN_AD_HOC_FORMED = 2;
constexpr int WLAN_DISCONNECTING = 3;
constexpr int WLAN_DISCONNECTED = 4;
constexpr int WLAN_ASSOCIATING = 5;
constexpr int WLAN_DISCOVERING = 6;
constexpr int WLAN_AUTHENTICATING = 7;
// The error number when no WLAN service is present.
constexpr int WLAN_SERVICE_ABSENT = 1062;

struct TWlanInterface {
  std::string Name;
  int State = WLAN_NOT_READY;
  std::string Profile;  // the current connection's profile (SSID); empty when not connected
  int QueryError = 0;   // non-zero when the current connection could not be read
};

// One snapshot of the WLAN interfaces: OpenError non-zero when the service could not be reached,
// EnumError when the interfaces could not be listed.
struct TWlanState {
  int OpenError = 0;
  int EnumError = 0;
  std::vector<TWlanInterface> Interfaces;
};

// The platform's own firewall: its name and whether it is enabled.
struct TPlatformFirewall {
  std::string Name;
  bool Enabled = false;
};

class IProbes {
 public:
  virtual ~IProbes() = default;

  // Instances of a security-centre class in a namespace; 0 on failure.
  virtual int WSCInstCount(const std::string& prmNamespace, const std::string& prmClass) = 0;
  // A property of the instance at prmIndex as text; empty on failure or an unknown property.
  virtual std::string WSCGetAttr(const std::string& prmNamespace, const std::string& prmClass,
                                 const std::string& prmProperty, int prmIndex) = 0;
  // Security-centre health of a provider into prmHealth; false ("not implemented") leaves it
  // unchanged.
  virtual bool GetSecurityProviderHealth(int prmProvider, int& prmHealth) = 0;
  // The platform firewall; none when its state cannot be read.
  virtual std::optional<TPlatformFirewall> PlatformFirewall() = 0;
  virtual std::vector<TAdapter> Adapters() = 0;
  virtual TWlanState Wlan() = 0;
};

// The probes of this machine.
std::unique_ptr<IProbes> CreateSystemProbes();

}  // namespace vantrel
