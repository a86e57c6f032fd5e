// Probes with set answers and a gateway log that records what it is sent.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Probes.h"
#include "verify/VerifyContext.h"

namespace vantrel::test {

using TInstance = std::map<std::string, std::string>;

class TFakeProbes : public IProbes {
 public:
  // namespace -> class -> instances
  std::map<std::string, std::map<std::string, std::vector<TInstance>>> Classes;
  std::optional<int> Health;  // none = no security-centre health function
  std::optional<TPlatformFirewall> Firewall;
  std::vector<TAdapter> AdapterList;
  TWlanState WlanState{WLAN_SERVICE_ABSENT, 0, {}};

  int WSCInstCount(const std::string& prmNs, const std::string& prmClass) override {
    return static_cast<int>(Classes[prmNs][prmClass].size());
  }
  std::string WSCGetAttr(const std::string& prmNs, const std::string& prmClass,
                         const std::string& prmProperty, int prmIndex) override {
    auto& list = Classes[prmNs][prmClass];
    if (prmIndex < 0 || static_cast<size_t>(prmIndex) >= list.size()) return {};
    auto found = list[static_cast<size_t>(prmIndex)].find(prmProperty);
    return found == list[static_cast<size_t>(prmIndex)].end() ? std::string() : found->second;
  }
  bool GetSecurityProviderHealth(int, int& prmHealth) override {
    if (!Health) return false;
    prmHealth = *Health;
    return true;
  }
  std::optional<TPlatformFirewall> PlatformFirewall() override { return Firewall; }
  std::vector<TAdapter> Adapters() override { return AdapterList; }
  TWlanState Wlan() override { return WlanState; }
};

struct TLogged {
  int Level;
  std::string Protocol;
  std::string Text;
  bool operator==(const TLogged& o) const {
    return std::tie(Level, Protocol, Text) == std::tie(o.Level, o.Protocol, o.Text);
  }
};

class TRecordingLog : public IGatewayLog {
 public:
  std::vector<TLogged> Sent;
  void SendLogMsg(int prmLevel, const std::string& prmProtocol,
                  const std::string& prmText) override {
    Sent.push_back({prmLevel, prmProtocol, prmText});
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TLogged& sent : Sent) texts.push_back(sent.Text);
    return texts;
  }
};

inline TInstance Antivirus(std::string prmName, std::string prmVersion, std::string prmUpToDate) {
  return {
      {"displayName", prmName}, {"versionNumber", prmVersion}, {"productUptoDate", prmUpToDate}};
}
inline TInstance Firewall(std::string prmName, std::string prmVersion, std::string prmEnabled) {
  return {{"displayName", prmName}, {"versionNumber", prmVersion}, {"enabled", prmEnabled}};
}

}  // namespace vantrel::test
