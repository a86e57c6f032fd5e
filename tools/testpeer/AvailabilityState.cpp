#include "testpeer/AvailabilityState.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

#include "diag/TextCodecs.h"
#include "diag/Xml.h"
#include "testpeer/PortalHtml.h"
#include "verify/PolicyMask.h"

namespace vantrel::testpeer {

namespace {

void SetAttrs(const TXmlNode& prmNode, const TNameValues& prmAttrs) {
  for (const auto& [n, v] : prmAttrs) prmNode.SetAttr(n, v);
}

TXmlNode AddText(const TXmlNode& prmParent, std::string_view prmName, std::string_view prmText) {
  TXmlNode n = prmParent.AddChild(prmName);
  n.SetText(prmText);
  return n;
}

TAvailAnswer Xml(const TXmlDoc& prmDoc) {
  TAvailAnswer a;
  a.Body = prmDoc.SaveToString();
  return a;
}

// The reply to a request the server cannot act on: still XML, as the client parses every reply.
TAvailAnswer ErrorReply(const std::string& prmInfo, int prmCode = 1) {
  TXmlDoc doc = TXmlDoc::Create("OQN");
  TXmlNode e = AddText(doc.Root(), "Error", std::to_string(prmCode));
  e.SetAttr("Info", prmInfo);
  return Xml(doc);
}

TAvailAnswer ResultReply() {
  TXmlDoc doc = TXmlDoc::Create("OQN");
  AddText(doc.Root(), "Result", "0");
  return Xml(doc);
}

// RFC 3986 percent-encoding: everything but the unreserved characters.
std::string PercentEncode(std::string_view prmText) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : prmText) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

TAvailAnswer StateSessReply(int prmSession) {
  TXmlDoc doc = TXmlDoc::Create("OQN");
  doc.Root().AddChild("StateSess").SetAttrInt("ID", prmSession);
  return Xml(doc);
}

}  // namespace

TAvailabilityState::TAvailabilityState(TAvailScenario prmScenario)
    : m_Scenario(std::move(prmScenario)),
      m_Profiles(m_Scenario.UserProfiles.begin(), m_Scenario.UserProfiles.end()),
      m_Icons(m_Scenario.Icons.begin(), m_Scenario.Icons.end()) {}

std::string TAvailabilityState::Key(const TAvailHost& prmHost) {
  return prmHost.ID().empty() ? prmHost.Address : prmHost.ID();
}

TAvailHost* TAvailabilityState::FindHost(const std::string& prmIdOrAddress) {
  return const_cast<TAvailHost*>(m_Scenario.FindHost(prmIdOrAddress));
}

bool TAvailabilityState::SetAvailStates(const std::string& prmHost, std::vector<int> prmStates) {
  TAvailHost* h = FindHost(prmHost);
  if (!h || prmStates.empty()) return false;
  h->AvailStates = std::move(prmStates);
  m_StateCursor[Key(*h)] = 0;
  return true;
}

int TAvailabilityState::PowerUps(const std::string& prmHost) const {
  const TAvailHost* h = m_Scenario.FindHost(prmHost);
  if (!h) return 0;
  auto it = m_PowerUps.find(Key(*h));
  return it == m_PowerUps.end() ? 0 : it->second;
}

int TAvailabilityState::NewSession(const TAvailHost& prmHost) {
  m_Sessions[++m_LastSession] = Key(prmHost);
  return m_LastSession;
}

int TAvailabilityState::NextState(const TAvailHost& prmHost) {
  size_t& at = m_StateCursor[Key(prmHost)];
  const std::vector<int>& states = prmHost.AvailStates;
  if (states.empty()) return 0;
  int s = states[std::min(at, states.size() - 1)];
  if (at < states.size()) ++at;
  return s;
}

TAvailAnswer TAvailabilityState::Handle(const THttpRequest& prmRequest,
                                        std::vector<std::string>& prmErrors) {
  const std::string& p = prmRequest.Path;
  if (p == "/query/info") return Info();
  if (p == "/query/hosts") return Hosts(prmRequest, prmErrors);
  if (p == "/object/newstatesess") return NewStateSession(prmRequest, prmErrors);
  if (p == "/query/avail") return Avail(prmRequest, prmErrors);
  if (p == "/object/powerup") return PowerUp(prmRequest, prmErrors);
  if (p == "/object/del") return Delete(prmRequest, prmErrors);
  if (p == "/query/userprofile") return QueryProfile(prmRequest);
  if (p == "/object/userprofile") return StoreProfile(prmRequest, prmErrors);
  if (p == "/query/clientverification") return Policy();
  if (p == "/query/clientverification2") return {200, m_Scenario.RulesXml, "text/xml"};
  if (p == "/query/appserver") return AppServer(prmRequest);
  if (p == "/query/iconcache") return IconCheck(prmRequest);
  if (p == "/object/iconcache") return IconUpload(prmRequest, prmErrors);
  if (p == "/query/appicon") return IconFetch(prmRequest);
  if (p == "/agent/info" && m_Scenario.AgentType) return AgentInfo(*m_Scenario.AgentType);
  if (p == kXmlServicePath && prmRequest.Method == "POST")
    return {200, XmlServiceReply(m_Scenario.XmlService, prmRequest.Body, prmErrors), "text/xml"};
  if (p == "/portal") return PortalPage();
  if (p == "/portal/session.vantrel") return PortalSessionFile();
  prmErrors.push_back("no such path: " + p);
  return {404, "", "text/plain"};
}

TAvailAnswer TAvailabilityState::Info() const {
  TXmlDoc doc = TXmlDoc::Create("OQN");
  TXmlNode root = doc.Root();
  if (!m_Scenario.Version.empty()) AddText(root, "Version", m_Scenario.Version);
  if (!m_Scenario.Vdiauth.empty()) AddText(root, "vdiauth", m_Scenario.Vdiauth);
  if (!m_Scenario.OmitInstance) AddText(root, "Instance", m_Scenario.Instance);
  if (!m_Scenario.OmitSettings) {
    TXmlNode settings = root.AddChild("Settings");
    for (const auto& [n, v] : m_Scenario.Settings) AddText(settings, n, v);
  }
  return Xml(doc);
}

TAvailAnswer TAvailabilityState::Hosts(const THttpRequest& prmRequest,
                                       std::vector<std::string>& prmErrors) {
  const std::string clv = prmRequest.Param("_clv");
  std::string answer;
  if (!clv.empty() && !UnmaskText(clv, ClvAnswerKey(), answer))
    prmErrors.push_back("_clv is not a masked answer: " + clv);
  m_ClvAnswers.push_back(answer);
  TXmlDoc doc = TXmlDoc::Create("OQN");
  TXmlNode root = doc.Root();
  if (m_Scenario.ClientVerification) {
    TXmlNode cv = AddText(root, "ClientVerification", *m_Scenario.ClientVerification);
    if (m_Scenario.ClientVerificationDeviceID >= 0)
      cv.SetAttrInt("DeviceID", m_Scenario.ClientVerificationDeviceID);
  }
  if (m_Scenario.DPPs) {
    TXmlNode dpps = root.AddChild("DPPs");
    for (const TNameValues& d : *m_Scenario.DPPs) SetAttrs(dpps.AddChild("DPP"), d);
  }
  TXmlNode hosts = root.AddChild("Hosts");
  if (m_Scenario.RDPPort) hosts.SetAttrInt("RDPPort", *m_Scenario.RDPPort);
  for (const TAvailHost& h : m_Scenario.Hosts) {
    if (std::find(m_Deleted.begin(), m_Deleted.end(), Key(h)) != m_Deleted.end()) continue;
    SetAttrs(AddText(hosts, "Host", h.Address), h.Attrs);
    if (h.ProvParams.empty()) continue;
    TXmlNode pp = hosts.AddChild("ProvParams");
    pp.SetAttr("ID", h.ID());
    for (const auto& [n, v] : h.ProvParams) AddText(pp, n, v);
  }
  TXmlNode apps = root.AddChild("Apps");
  for (const TAvailApp& a : m_Scenario.Apps) SetAttrs(AddText(apps, "App", a.ID), a.Attrs);
  TXmlNode farms = root.AddChild("Farms");
  for (const TAvailFarm& f : m_Scenario.Farms) SetAttrs(AddText(farms, "Farm", f.ID), f.Attrs);
  return Xml(doc);
}

const TAvailHost* TAvailabilityState::NamedHost(const THttpRequest& prmRequest,
                                                const std::string& prmWhat,
                                                std::vector<std::string>& prmErrors) {
  std::string obj = prmRequest.Param("_objid");
  const TAvailHost* h = FindHost(obj);
  if (!h) prmErrors.push_back(prmWhat + " for an unknown desktop: " + obj);
  return h;
}

TAvailAnswer TAvailabilityState::NewStateSession(const THttpRequest& prmRequest,
                                                 std::vector<std::string>& prmErrors) {
  const TAvailHost* h = NamedHost(prmRequest, "state session", prmErrors);
  return h ? StateSessReply(NewSession(*h)) : ErrorReply("unknown desktop");
}

TAvailAnswer TAvailabilityState::Avail(const THttpRequest& prmRequest,
                                       std::vector<std::string>& prmErrors) {
  // The state query names its desktop only through the session it opened; the wake-up poll
  // also names it by "_objid"; "_deskid" is the last resort.
  int sess = -1;
  const TAvailHost* h = nullptr;
  if (TryStrToInt(prmRequest.Param("_sessid"), sess)) {
    auto it = m_Sessions.find(sess);
    if (it != m_Sessions.end()) h = FindHost(it->second);
  }
  if (!h) h = FindHost(prmRequest.Param("_objid"));
  if (!h && !prmRequest.Param("_deskid").empty())
    for (const TAvailHost& c : m_Scenario.Hosts)
      if (c.Attr("desktopID") == prmRequest.Param("_deskid")) {
        h = &c;
        break;
      }
  if (!h) {
    prmErrors.push_back("availability query for an unknown desktop (session " +
                        prmRequest.Param("_sessid") + ")");
    return ErrorReply("unknown desktop");
  }
  TXmlDoc doc = TXmlDoc::Create("OQN");
  TXmlNode s = doc.Root().AddChild("StateSess");
  s.SetAttrInt("ID", sess);
  s.SetAttrInt("State", NextState(*h));
  const std::pair<const char*, const std::string*> extra[] = {{"Host", &h->AvailHost},
                                                              {"VDIUser", &h->VDIUser},
                                                              {"VDIPwd", &h->VDIPwd},
                                                              {"VDIDomain", &h->VDIDomain}};
  for (const auto& [n, v] : extra)
    if (!v->empty()) s.SetAttr(n, *v);
  return Xml(doc);
}

TAvailAnswer TAvailabilityState::PowerUp(const THttpRequest& prmRequest,
                                         std::vector<std::string>& prmErrors) {
  const TAvailHost* h = NamedHost(prmRequest, "power-up", prmErrors);
  if (!h) return ErrorReply("unknown desktop");
  ++m_PowerUps[Key(*h)];
  return StateSessReply(NewSession(*h));
}

TAvailAnswer TAvailabilityState::Delete(const THttpRequest& prmRequest,
                                        std::vector<std::string>& prmErrors) {
  const TAvailHost* h = NamedHost(prmRequest, "deletion", prmErrors);
  if (!h) return ErrorReply("unknown desktop");
  if (std::find(m_Deleted.begin(), m_Deleted.end(), Key(*h)) == m_Deleted.end())
    m_Deleted.push_back(Key(*h));
  return ResultReply();
}

TAvailAnswer TAvailabilityState::QueryProfile(const THttpRequest& prmRequest) {
  auto it = m_Profiles.find(prmRequest.Param("_uname"));
  return {200, it == m_Profiles.end() ? "" : FormURLEncode(it->second), "text/plain"};
}

TAvailAnswer TAvailabilityState::StoreProfile(const THttpRequest& prmRequest,
                                              std::vector<std::string>& prmErrors) {
  if (!prmRequest.HasParam("_userprofile")) {
    prmErrors.push_back("profile update without _userprofile");
    return ErrorReply("no profile");
  }
  m_Profiles[prmRequest.Param("_uname")] = prmRequest.Param("_userprofile");
  return ResultReply();
}

TAvailAnswer TAvailabilityState::Policy() const {
  TXmlDoc doc = TXmlDoc::Create("OQN");
  SetAttrs(AddText(doc.Root(), "ClientVerification", m_Scenario.PolicyText),
           m_Scenario.PolicyAttrs);
  return Xml(doc);
}

TAvailAnswer TAvailabilityState::AppServer(const THttpRequest& prmRequest) const {
  auto it = m_Scenario.AppServers.find(prmRequest.RawParam("_appid"));
  if (it == m_Scenario.AppServers.end()) return ErrorReply("unknown application");
  const TAvailAppServer& s = it->second;
  if (s.Server.empty()) return ErrorReply(s.ErrorInfo, s.Error);
  TXmlDoc doc = TXmlDoc::Create("OQN");
  AddText(doc.Root(), "Server", s.Server).SetAttrInt("Port", s.Port);
  return Xml(doc);
}

TAvailAnswer TAvailabilityState::AgentInfo(int prmType) const {
  TXmlDoc doc = TXmlDoc::Create("Agent");
  if (prmType != 0) doc.Root().AddChild("ServerInfo").SetAttrInt("Type", prmType);
  return Xml(doc);
}

TAvailAnswer TAvailabilityState::IconCheck(const THttpRequest& prmRequest) const {
  // The body lists identifiers each followed by ","; the answer names those without an icon.
  std::string missing;
  std::string_view rest = prmRequest.Body;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string id(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (id.empty() || m_Icons.count(id)) continue;
    if (!missing.empty()) missing += ",";
    missing += id;
  }
  return {200, missing, "text/plain"};
}

TAvailAnswer TAvailabilityState::IconUpload(const THttpRequest& prmRequest,
                                            std::vector<std::string>& prmErrors) {
  std::string id = prmRequest.RawParam("_iconid");
  if (id.empty()) {
    prmErrors.push_back("icon upload without _iconid");
    return {400, "", "text/plain"};
  }
  m_Icons[id] = prmRequest.Body;
  return {200, "", "text/plain"};
}

TAvailAnswer TAvailabilityState::IconFetch(const THttpRequest& prmRequest) const {
  auto it = m_Icons.find(prmRequest.RawParam("_appid"));
  if (it == m_Icons.end()) return {404, "", "text/plain"};
  return {200, it->second, "image/png"};
}

// The page a portal shows once the user signed in: the start parameters for the browser
// extension, the session file to download (the browser hands it to the client by its type) and
// the same parameters as a vantrel: link.
TAvailAnswer TAvailabilityState::PortalPage() const {
  std::string url = "vantrel:?";
  nlohmann::ordered_json params = nlohmann::ordered_json::object();
  for (const auto& [n, v] : m_Scenario.PortalParams) {
    url += (url.back() == '?' ? "" : "&amp;") + PercentEncode(n) + "=" + PercentEncode(v);
    params[n] = v;
  }
  // Inside a script element nothing may read as markup.
  std::string json;
  for (char c : params.dump(-1, ' ', true))
    json += c == '<' ? std::string("\\u003c") : std::string(1, c);
  std::string body = kPortalHtml;
  for (const auto& [field, text] : {std::pair{"{{PARAMS_JSON}}", json}, {"{{VANTREL_URL}}", url}})
    body.replace(body.find(field), std::strlen(field), text);
  return {200, body, "text/html"};
}

TAvailAnswer TAvailabilityState::PortalSessionFile() const {
  std::string body;
  for (const auto& [n, v] : m_Scenario.PortalParams) body += n + "=" + v + "\n";
  return {200, body, "application/x-vantrel-session"};
}

}  // namespace vantrel::testpeer
