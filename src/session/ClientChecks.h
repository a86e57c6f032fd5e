// TClientChecks: the start-up checks of the clients a launch needs. The RDP client is probed
// (and installed from the gateway when missing) and its major version kept; a missing Citrix
// client is downloaded and its installer run.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/RdpClient.h"
#include "session/SessionContext.h"

namespace vantrel {

class TClientChecks {
 public:
  explicit TClientChecks(TSessionContext& prmContext);
  TClientChecks(const TClientChecks&) = delete;
  TClientChecks& operator=(const TClientChecks&) = delete;

  // Replaces the platform's RDP client; set before start-up.
  void SetRdpClient(std::unique_ptr<IRdpClient> prmClient) { m_RdpClient = std::move(prmClient); }

  // True when an RDP client is there (found or installed). Connect thread.
  bool CheckRdpClient();
  // Installs the Citrix client when the store names one and none is installed. Connect thread.
  void CheckCitrixClient();
  int GetRDPMajVer() const { return m_RDPMajVer; }

 private:
  bool InstallRdpClient();
  bool DownloadXenAppClient();
  std::string ProbeCitrixClient();

  TSessionContext& m_Context;
  std::unique_ptr<IRdpClient> m_RdpClient;
  std::atomic<int> m_RDPMajVer{5};
  std::string m_CitrixClientPath;
};

}  // namespace vantrel
