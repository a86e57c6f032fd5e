// TClientChecks: the start-up checks of the clients a launch needs. The RDP client is probed and
// its major version kept; the gateway's RDP package is fetched, but it is a Windows cabinet,
// which is never expanded or run here, so a missing client is reported. A missing Citrix client is
// downloaded and its installer run only when the user agreed to that file from that source
// (TInstallerConsent); Windows installers never are.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/RdpClient.h"
#include "session/ClientChecksConsent.h"
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
  // The Yes/No question naming the installer and where it comes from.
  bool AskToRun(const std::string& prmName, const std::string& prmURL);

  TSessionContext& m_Context;
  TInstallerConsent m_Consent;
  std::unique_ptr<IRdpClient> m_RdpClient;
  std::atomic<int> m_RDPMajVer{5};
};

}  // namespace vantrel
