// The RDP client control a portal page may host itself and hand to the session: the properties
// the session reads and re-targets. Each call returns false when the control refused it.
#pragma once

#include <string>

namespace vantrel {

class IRdpClientAdvancedSettings {
 public:
  virtual ~IRdpClientAdvancedSettings() = default;
  virtual bool GetRDPPort(int& prmPort) = 0;
  virtual bool SetRDPPort(int prmPort) = 0;
  virtual bool SetClearTextPassword(const std::string& prmPassword) = 0;
};

class IRdpClientControl {
 public:
  virtual ~IRdpClientControl() = default;
  virtual bool GetServer(std::string& prmServer) = 0;
  virtual bool SetServer(const std::string& prmServer) = 0;
  virtual bool SetUserName(const std::string& prmUserName) = 0;
  // The advanced-settings interface, or nullptr when the control does not offer it. Owned by
  // the control.
  virtual IRdpClientAdvancedSettings* AdvancedSettings() = 0;
};

}  // namespace vantrel
