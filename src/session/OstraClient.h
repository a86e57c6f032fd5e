// TOstraClient: the session's client of the availability server. It reads the server's
// information (version, instance, settings), asks for the user's catalogue (with the extra
// desktop login some servers want) and keeps the desktops and flag set it returned.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/AppCatalogue.h"
#include "catalogue/DPP.h"
#include "catalogue/Host.h"
#include "session/SessionContext.h"

namespace vantrel {

class TXmlNode;

struct TOstraServerVersion {
  int VerMaj = 0;
  int VerMin = 0;
  int BuildNum = 0;
};

class TOstraClient {
 public:
  explicit TOstraClient(TSessionContext& prmContext) : m_Context(prmContext) {}
  TOstraClient(const TOstraClient&) = delete;
  TOstraClient& operator=(const TOstraClient&) = delete;

  // --- the page's catalogue filters (window thread, before start-up) ---
  void SetFarmsListParams(const std::string& prmFarms);
  void SetDesktopsListParams(const std::string& prmDesktops);
  void SetHideDesksParams(int prmHideDesks) { m_HideDesks = prmHideDesks; }
  const std::string& GetFarmsListParams() const { return m_FarmsList; }
  const std::string& GetDesktopsListParams() const { return m_DesktopsList; }
  int GetHideDesksParams() const { return m_HideDesks; }

  void SetOstraVersion(int prmMajorVersion, int prmMinorVersion, int prmBuildVersion);
  TOstraServerVersion GetOstraServerVersion() const;

  // --- requests of the connect thread ---
  // The server's information; false when it could not be read.
  bool GetOstraInfo();
  // True when the session is allowed.
  bool GetPostLoginClientVerificationRules();
  // The pre-login verification's answer text; prmFailureInfo set when it cannot run.
  std::string ClientVerification(std::string& prmFailureInfo);
  // Loads the catalogue with the verification answer; false with prmFailureInfo when not loaded.
  bool GetHosts(const std::string& prmAnswer, std::string& prmFailureInfo);

  // --- the catalogue ---
  // The desktops; stable once start-up ended.
  const std::vector<std::unique_ptr<THost>>& Hosts() const { return m_Hosts; }
  // Calls prmVisit with the desktop at prmIndex under the list's lock; false when there is none.
  bool VisitHost(size_t prmIndex, const std::function<void(const THost&)>& prmVisit);
  const TDPP& GetDPP() const { return m_DPP; }
  // The applications, their folders and the farms; complete once start-up ended.
  TAppCatalogue& Apps() { return m_Apps; }
  // Ends the desktops' request threads (joined); then the tunnel may go.
  void StopRequests();
  void ClearHosts();

 private:
  bool ReadOstraInfo(const TXmlNode& prmRoot);
  // User and password of the catalogue request, and the extra parameters the later servers get.
  void CatalogueCredentials(std::string& prmUser, std::string& prmPwd,
                            std::vector<std::pair<std::string, std::string>>& prmExtra);
  void LoadCatalogue(const TXmlNode& prmRoot);

  TSessionContext& m_Context;
  std::string m_FarmsList;
  std::string m_DesktopsList;
  bool m_ExistFarmsList = false;
  bool m_ExistDesktopsList = false;
  int m_HideDesks = -1;
  mutable std::mutex m_VersionLock;
  TOstraServerVersion m_OstraServerVersion;
  std::mutex m_HostsLock;  // the connect thread fills m_Hosts while the window thread may read it
  std::vector<std::unique_ptr<THost>> m_Hosts;
  TDPP m_DPP;
  TAppCatalogue m_Apps;
};

}  // namespace vantrel
