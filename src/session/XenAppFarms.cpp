#include "session/XenAppFarms.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "catalogue/AppCatalogue.h"
#include "catalogue/OstraQuery.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/CitrixUtil.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "session/SessionContext.h"

namespace vantrel {

namespace {

constexpr const char* kEmptyCredentials = "Username and password must be specified";

}  // namespace

std::string TXenAppFarms::LogonFailureText(int prmCode) {
  const char* reason = CitrixFailureReason(static_cast<TCitrixResult>(prmCode));
  return reason != nullptr ? reason : "Unknown error, please check server configuration";
}

TCitrixLink TXenAppFarms::Link() const {
  TSessionContext& context = m_Context;
  return {context.GetProtocol(), context.FileExchange().Limits(),
          [&context] { return context.InDestruction(); }};
}

void TXenAppFarms::Load(TAppCatalogue& prmCatalogue) {
  for (const auto& farm : prmCatalogue.GetFarms()) {
    const TCitrixLink link = Link();
    for (const std::string& server : farm->GetServers()) {
      if (m_Context.InDestruction()) return;
      TLogon logon = AuthUser(*farm);
      // The user gave up on this farm: its other servers would only ask again.
      if (logon == TLogon::Cancelled) break;
      if (logon == TLogon::Failed) continue;
      TCitrixCreds creds;
      farm->GetCreds(creds.UserName, creds.Password, creds.Domain);
      if (GetAllApps(*farm, server, prmCatalogue, farm->GetFolder(), link, creds) != kCitrixOK)
        continue;
      if (IsShouldDownloadXenAppIcons(*farm) && GetAllAppIcons(*farm, link, creds) == kCitrixOK)
        SynchXenAppIcons(*farm);
      m_MissingIcons.clear();
      break;
    }
  }
}

bool TXenAppFarms::TryLogon(TXenAppFarm& prmFarm, const TCitrixCreds& prmCreds,
                            std::string& prmFailure) {
  const TCitrixLink link = Link();
  for (const std::string& server : prmFarm.GetServers()) {
    if (m_Context.InDestruction()) return false;
    TCitrixResult code = CitrixAuthUser(server, link, prmCreds);
    if (code == kCitrixOK) {
      prmFarm.SetCreds(prmCreds.UserName, prmCreds.Password, prmCreds.Domain);
      return true;
    }
    prmFailure = LogonFailureText(code);
  }
  return false;
}

TXenAppFarms::TLogon TXenAppFarms::AuthUser(TXenAppFarm& prmFarm) {
  TDBMng& store = m_Context.GetDBMng();
  TCitrixCreds creds;
  creds.Domain = store.GetDomain();
  // Credentials the farm accepted already (its list failed on another server) are not asked again.
  if (prmFarm.HasCreds())
    prmFarm.GetCreds(creds.UserName, creds.Password, creds.Domain);
  else if (store.GetSSO()) {
    creds.UserName = m_Context.GetUsername(false);
    creds.Password = m_Context.GetPassword(false);
  }
  for (;;) {
    if (!creds.UserName.empty() && !creds.Password.empty()) {
      std::string failure;
      if (TryLogon(prmFarm, creds, failure)) return TLogon::Done;
      if (m_Context.InDestruction()) return TLogon::Failed;
      WriteDebugLog("AuthUser - " + prmFarm.GetName() + ": " + failure);
      if (!failure.empty()) m_Context.Dialogs().MessageBox(failure, "Error", MB_OK | MB_ICONERROR);
    }
    TLoginPrompt prompt;
    prompt.Caption = "Login to " + prmFarm.GetName() + "...";
    prompt.Domain = creds.Domain;
    if (m_Context.InDestruction() || m_Context.Dialogs().Login(prompt) != IDOK)
      return TLogon::Cancelled;
    creds = {prompt.User, prompt.Password, prompt.Domain};
    if (creds.UserName.empty() || creds.Password.empty())
      m_Context.Dialogs().MessageBox(kEmptyCredentials, "Error", MB_OK | MB_ICONERROR);
  }
}

bool TXenAppFarms::IsShouldDownloadXenAppIcons(TXenAppFarm& prmFarm) {
  m_MissingIcons.clear();
  std::string body;
  for (const auto& [name, app] : prmFarm.GetApps()) body += app->GetID() + ",";
  if (body.empty()) return false;
  const std::string url = TOstraQuery(m_Context.GetOstraServer(), "/query/iconcache").URL();
  std::string reply;
  if (!m_Context.FileExchange().PostFile(url, body, reply)) return false;
  std::set<std::string> missing;
  for (size_t start = 0; start <= reply.size();) {
    size_t end = std::min(reply.find(',', start), reply.size());
    missing.insert(LowerCase(Trim(std::string_view(reply).substr(start, end - start))));
    start = end + 1;
  }
  for (const auto& [name, app] : prmFarm.GetApps())
    if (missing.count(LowerCase(app->GetID()))) m_MissingIcons.push_back(app->GetID());
  return !m_MissingIcons.empty();
}

void TXenAppFarms::SynchXenAppIcons(TXenAppFarm& prmFarm) {
  for (const auto& [name, app] : prmFarm.GetApps()) {
    const std::string id = app->GetID();
    if (std::find(m_MissingIcons.begin(), m_MissingIcons.end(), id) == m_MissingIcons.end())
      continue;
    if (app->m_Icon.empty()) {
      WriteDebugLog("SynchXenAppIcons - no icon for " + id);
      continue;
    }
    const std::string url =
        TOstraQuery(m_Context.GetOstraServer(), "/object/iconcache").Add("_iconid", id).URL();
    std::string ignored;
    m_Context.FileExchange().PostFile2(url, app->m_Icon.data(), app->m_Icon.size(), ignored);
  }
  m_MissingIcons.clear();
}

}  // namespace vantrel
