// TXenAppFarms: the XenApp farms of the catalogue, made usable while start-up loads it. Each farm's
// logon is checked against its XML service (with the session's credentials under single sign-on,
// else or when refused with the login dialog), its applications and icons are listed from the
// first server that answers, and the icons the availability server does not hold yet are uploaded
// to its icon cache. Connect thread; the dialogs are shown by the window thread.
#pragma once

#include <string>
#include <vector>

#include "citrix/CitrixResp.h"
#include "citrix/XmlRequests.h"

namespace vantrel {

class TAppCatalogue;
class TSessionContext;
class TXenAppFarm;

class TXenAppFarms {
 public:
  explicit TXenAppFarms(TSessionContext& prmContext) : m_Context(prmContext) {}
  TXenAppFarms(const TXenAppFarms&) = delete;
  TXenAppFarms& operator=(const TXenAppFarms&) = delete;

  // Logs on to every farm of prmCatalogue and files its applications in prmCatalogue. A farm
  // whose logon fails everywhere, or whose user cancels it, keeps no applications.
  void Load(TAppCatalogue& prmCatalogue);

  // The error text of a farm logon's result code.
  static std::string LogonFailureText(int prmCode);

 private:
  enum class TLogon { Done, Failed, Cancelled };
  TLogon AuthUser(TXenAppFarm& prmFarm);
  // Tries the credentials on each server; true (and the farm keeps them) at the first that
  // accepts them, else prmFailure is the last server's text.
  bool TryLogon(TXenAppFarm& prmFarm, const TCitrixCreds& prmCreds, std::string& prmFailure);
  bool IsShouldDownloadXenAppIcons(TXenAppFarm& prmFarm);
  void SynchXenAppIcons(TXenAppFarm& prmFarm);
  TCitrixLink Link() const;

  TSessionContext& m_Context;
  // Identities of the farm's applications whose icons the availability server lacks.
  std::vector<std::string> m_MissingIcons;
};

}  // namespace vantrel
