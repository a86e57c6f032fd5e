// The availability server's information and the catalogue requests made during start-up.
#include "session/OstraClient.h"

#include <cctype>

#include "catalogue/OstraQuery.h"
#include "catalogue/ParamList.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"
#include "session/SessionVerifier.h"
#include "session/XenAppFarms.h"
#include "verify/LegacyPolicy.h"
#include "verify/RuleEngine.h"

namespace vantrel {

namespace {

constexpr const char* kNoOstraServer = "Ostra is enabled, but Ostra server is not specified";
constexpr int kDevType = 1;
// The first answer is never used; after it, this many unusable answers end the attempt.
constexpr int kInfoAttempts = 3;

bool IsRoot(const TXmlDoc& prmDoc, std::string_view prmName) {
  return prmDoc.IsValid() && SameText(prmDoc.Root().Name(), prmName);
}

// "major.minor.build" as three single digits at the first, third and fifth characters.
bool ParseVersion(const std::string& prmText, TOstraServerVersion& prmVersion) {
  auto digit = [&](size_t i, int& prmOut) {
    if (i >= prmText.size() || !std::isdigit(static_cast<unsigned char>(prmText[i]))) return false;
    prmOut = prmText[i] - '0';
    return true;
  };
  return digit(0, prmVersion.VerMaj) && digit(2, prmVersion.VerMin) &&
         digit(4, prmVersion.BuildNum);
}

std::string ProfileValue(const TStringList& prmProfile, const std::string& prmName) {
  for (const std::string& e : prmProfile)
    if (e.compare(0, prmName.size() + 1, prmName + "=") == 0) return e.substr(prmName.size() + 1);
  return std::string();
}

void SetProfileValue(TStringList& prmProfile, const std::string& prmName,
                     const std::string& prmValue) {
  for (std::string& e : prmProfile)
    if (e.compare(0, prmName.size() + 1, prmName + "=") == 0) {
      e = prmName + "=" + prmValue;
      return;
    }
  prmProfile.push_back(prmName + "=" + prmValue);
}

std::string Base64DecodeText(const std::string& prmText) {
  TBytes bytes = Base64Decode(prmText);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

bool TOstraClient::GetOstraInfo() {
  const std::string url = TOstraQuery(m_Context.GetOstraServer(), "/query/info")
                              .Add("_devtype", kDevType)
                              .AddEncoded("_sessid", m_Context.Gateway().SessID)
                              .AddEncoded("_uname", m_Context.GetUsername(true))
                              .URL();
  int counter = 0;
  for (;;) {
    if (m_Context.InDestruction()) return false;
    std::string body, failure;
    if (!m_Context.GetFile(url, body, TCS_STATUS_GET_INFO, "", failure, "")) {
      WriteDebugLog("GetOstraInfo - " + failure);
      return false;
    }
    // The server's first answer after the tunnel came up is not trusted.
    if (counter == 0) {
      counter = 1;
      continue;
    }
    TXmlDoc doc = TXmlDoc::ParseBytes(body.data(), body.size());
    if (!IsRoot(doc, "OQN")) {
      if (++counter == kInfoAttempts) return false;
      continue;
    }
    return ReadOstraInfo(doc.Root());
  }
}

bool TOstraClient::ReadOstraInfo(const TXmlNode& prmRoot) {
  TXmlNode version = prmRoot.FindFirst("Version");
  if (version) {
    TOstraServerVersion v;
    if (!ParseVersion(version.Text(), v)) {
      WriteDebugLog("GetOstraInfo - invalid version " + version.Text());
      return false;
    }
    SetOstraVersion(v.VerMaj, v.VerMin, v.BuildNum);
  } else {
    WriteDebugLog("Get Ostra Server Version failed");
  }
  TDBMng& store = m_Context.GetDBMng();
  TXmlNode vdiauth = prmRoot.FindFirst("vdiauth");
  if (vdiauth && vdiauth.Text() == "1") store.SetExtraAuth(true);
  TXmlNode instance = prmRoot.FindFirst("Instance");
  if (!instance) return false;
  store.SetOstraInstance(instance.Text());
  TXmlNode settings = prmRoot.FindFirst("Settings");
  if (settings) {
    try {
      store.LoadXML(settings);
    } catch (const EBaseException& e) {
      WriteDebugLog("GetOstraInfo - " + e.GetMsg());
      return false;
    }
    m_Context.SetTimeoutAlerts(store.GetLifetimeAlert(), store.GetIdleAlert());
    m_Context.SetIdleTimeoutKM(store.GetIdleTimeoutKM());
  }
  return true;
}

bool TOstraClient::GetPostLoginClientVerificationRules() {
  const std::string url = TOstraQuery(m_Context.GetOstraServer(), "/query/clientverification2")
                              .AddEncoded("_instid", m_Context.GetDBMng().GetOstraInstance())
                              .AddEncoded("_uname", m_Context.GetUsername(true))
                              .URL();
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_CLIENT_VERIFICATION, "", failure, "")) {
    // A server that cannot answer has no rules to enforce.
    WriteDebugLog("GetPostLoginClientVerificationRules - " + failure + ": session allowed");
    return true;
  }
  TSessionVerifier verifier(m_Context);
  return RunRulesDocument(verifier.Context(), body);
}

std::string TOstraClient::ClientVerification(std::string& prmFailureInfo) {
  const std::string server = m_Context.GetOstraServer();
  if (server.empty()) {
    prmFailureInfo = kNoOstraServer;
    return std::string();
  }
  const std::string url = TOstraQuery(server, "/query/clientverification")
                              .AddEncoded("_instid", m_Context.GetDBMng().GetOstraInstance())
                              .URL();
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_CLIENT_VERIFICATION, "", failure, "")) {
    WriteDebugLog("ClientVerification - " + failure + ": no policy answer");
    return std::string();
  }
  TSessionVerifier verifier(m_Context);
  TPolicyCheck check = RunPolicyCheck(verifier.Context(), body, failure);
  prmFailureInfo = check.Failure;
  if (!check.Failure.empty()) WriteDebugLog("ClientVerification - " + check.Failure);
  return check.Answer;
}

void TOstraClient::CatalogueCredentials(
    std::string& prmUser, std::string& prmPwd,
    std::vector<std::pair<std::string, std::string>>& prmExtra) {
  if (!m_Context.GetDBMng().GetExtraAuth()) {
    prmUser = m_Context.GetUsername(false);
    prmPwd = m_Context.GetPassword(false);
    return;
  }
  TLoginPrompt prompt;
  prompt.Caption = "VDI Authentication";
  prompt.ButtonText = "Ok";
  prompt.DomainVisible = false;
  TOstraServerVersion v = GetOstraServerVersion();
  if (v.VerMaj >= 4 && v.BuildNum >= 3) {
    bool ok = m_Context.Dialogs().Login(prompt) == IDOK;
    prmUser = m_Context.GetUsername(false);
    prmPwd = ok ? prompt.Password : std::string();
    prmExtra = {{"_vdiuser", ok ? prompt.User : std::string()},
                {"_vdipwd", prmPwd},
                {"_vdidomain", ok ? prompt.Domain : std::string()}};
    return;
  }
  TFileExchange& exchange = m_Context.FileExchange();
  TStringList profile = exchange.GetUserProfile();
  std::string storedUser = ProfileValue(profile, "EXTUNAME");
  if (!storedUser.empty()) {
    prmUser = Base64DecodeText(storedUser);
    prmPwd = Base64DecodeText(ProfileValue(profile, "EXTPWD"));
  } else if (m_Context.Dialogs().Login(prompt) == IDOK) {
    prmUser = prompt.User;
    prmPwd = prompt.Password;
    SetProfileValue(profile, "EXTUNAME", Base64Encode(prmUser));
    SetProfileValue(profile, "EXTPWD", Base64Encode(prmPwd));
    exchange.SetUserProfile(profile);
    exchange.SaveUserProfile();
  } else {
    prmUser = m_Context.GetUsername(false);
    prmPwd = m_Context.GetPassword(false);
    return;
  }
  m_Context.TunnelOptions()->SetAltCred(prmUser, prmPwd);
}

bool TOstraClient::GetHosts(const std::string& prmAnswer, std::string& prmFailureInfo) {
  prmFailureInfo.clear();
  const std::string server = m_Context.GetOstraServer();
  if (server.empty()) {
    prmFailureInfo = kNoOstraServer;
    return false;
  }
  std::string ignored;
  m_Context.FileExchange().LoadUserProfile(ignored);
  std::string user, pwd;
  std::vector<std::pair<std::string, std::string>> extra;
  CatalogueCredentials(user, pwd, extra);
  TOstraQuery query(server, "/query/hosts");
  query.AddEncoded("_instid", m_Context.GetDBMng().GetOstraInstance())
      .AddEncoded("_uname", user)
      .AddEncoded("_clv", prmAnswer)
      .AddEncoded("_pid", pwd)
      .Add("_devtype", kDevType)
      .AddEncoded("_id", m_Context.GetDevID());
  for (const auto& [name, value] : extra) query.AddEncoded(name, value);
  if (m_HideDesks >= 0) query.Add("_hidedesks", m_HideDesks);
  if (m_ExistFarmsList) query.Add("_farmslist", m_FarmsList);
  if (m_ExistDesktopsList) query.Add("_xdfarmslist", m_DesktopsList);

  std::string body, failure;
  if (!m_Context.GetFile(query.URL(), body, TCS_STATUS_GET_DESKTOPS, "", failure, "")) {
    WriteDebugLog("GetHosts - " + failure);
    return false;
  }
  TXmlDoc doc = TXmlDoc::ParseBytes(body.data(), body.size());
  if (!doc.IsValid()) {
    WriteDebugLog("GetHosts - " + doc.GetError());
    prmFailureInfo = "invalid server response - " + failure;
    return false;
  }
  if (!IsRoot(doc, "OQN")) {
    prmFailureInfo = "invalid server response (protocol)";
    return false;
  }
  LoadCatalogue(doc.Root());
  return true;
}

void TOstraClient::LoadCatalogue(const TXmlNode& prmRoot) {
  TXmlNode verification = prmRoot.FindFirst("ClientVerification");
  if (verification && verification.Text() == "Failed") {
    m_Context.GetUI().DisableCustomDest();
    m_Context.GetUI().ReportError(verification.AttrInt("DeviceID", 0) == 2
                                      ? TCS_ERR_DEVICE_REFUSED_ID
                                      : TCS_ERR_DEVICE_REFUSED,
                                  "");
    return;
  }
  m_DPP.Load(prmRoot, m_Context.GetDBMng());
  std::vector<std::unique_ptr<THost>> hosts = LoadHosts(prmRoot, m_Context);
  {
    std::lock_guard<std::mutex> g(m_HostsLock);
    for (auto& h : hosts) m_Hosts.push_back(std::move(h));
  }
  m_Apps.Load(prmRoot);
  TXenAppFarms(m_Context).Load(m_Apps);
}

void TOstraClient::SetFarmsListParams(const std::string& prmFarms) {
  m_FarmsList = prmFarms;
  m_ExistFarmsList = true;
}

void TOstraClient::SetDesktopsListParams(const std::string& prmDesktops) {
  m_DesktopsList = prmDesktops;
  m_ExistDesktopsList = true;
}

void TOstraClient::SetOstraVersion(int prmMajorVersion, int prmMinorVersion, int prmBuildVersion) {
  std::lock_guard<std::mutex> g(m_VersionLock);
  m_OstraServerVersion = {prmMajorVersion, prmMinorVersion, prmBuildVersion};
}

TOstraServerVersion TOstraClient::GetOstraServerVersion() const {
  std::lock_guard<std::mutex> g(m_VersionLock);
  return m_OstraServerVersion;
}

bool TOstraClient::VisitHost(size_t prmIndex, const std::function<void(const THost&)>& prmVisit) {
  std::lock_guard<std::mutex> g(m_HostsLock);
  if (prmIndex >= m_Hosts.size()) return false;
  prmVisit(*m_Hosts[prmIndex]);
  return true;
}

void TOstraClient::StopRequests() {
  std::lock_guard<std::mutex> g(m_HostsLock);
  for (auto& h : m_Hosts) h->StopRequests();
}

void TOstraClient::ClearHosts() {
  std::lock_guard<std::mutex> g(m_HostsLock);
  m_Hosts.clear();
}

}  // namespace vantrel
