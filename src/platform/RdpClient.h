// The RDP client as the session checks it: whether a client instance can be created (the client
// program is found) and the version the embedded client control would report, derived from the
// installed FreeRDP. Behind an interface so that tests can put any answer in its place.
#pragma once

#include <string>

namespace vantrel {

class IRdpClient {
 public:
  virtual ~IRdpClient() = default;
  // Whether an instance of the client can be created.
  virtual bool CanCreate() = 0;
  // The client's version text ("10.0.2.4" style); empty when it cannot be told.
  virtual std::string VersionText() = 0;
};

// The client program: "RdpClient" from the environment (VANTREL_RDP_CLIENT) or settings.ini,
// default "vantrel-mstsc". Version: "xfreerdp --version", bounded to a few seconds.
class TRdpClient : public IRdpClient {
 public:
  bool CanCreate() override;
  std::string VersionText() override;
};

// The client program's name as configured.
std::string RdpClientProgram();

// The version text for the output of "xfreerdp --version": FreeRDP 2 or later speaks what the
// platform's version 10 client does ("10.0.<FreeRDP version>"), FreeRDP 1 its version 7
// ("7.0.<...>"). Empty when the output names no version.
std::string RdpVersionFromFreeRdp(const std::string& prmOutput);

// The folder standing in for the system directory: RDP plug-ins named without a folder and the
// downloaded client package live there. "SystemDir" from the environment (VANTREL_SYSTEM_DIR) or
// settings.ini, default "/usr/lib/freerdp2".
std::string RdpSystemDir();

}  // namespace vantrel
