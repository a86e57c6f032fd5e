#include "testpeer/AvailabilityScenario.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "catalogue/MaskUnmask.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

namespace vantrel::testpeer {

namespace {

// Ordered, so that settings, attributes and provider parameters keep the order they are written.
using json = nlohmann::ordered_json;

const char* const kHostAttrs[] = {"ID",       "Desc",       "Days",      "Protocol", "State",
                                  "Provider", "ProviderID", "desktopID", "Params",   "SessInfo"};
const char* const kAppAttrs[] = {"Name", "Desc", "Loc", "Dir", "Height", "Width", "Folder"};
const char* const kFarmAttrs[] = {"FarmName", "Folder", "Servers"};

[[noreturn]] void Bad(const std::string& prmKey, const std::string& prmWhy) {
  throw EBaseException("availability scenario: \"" + prmKey + "\" " + prmWhy);
}

int Int(const json& prmValue, const std::string& prmKey, int prmMin, int prmMax) {
  if (!prmValue.is_number_integer()) Bad(prmKey, "must be an integer");
  auto v = prmValue.get<int64_t>();
  if (v < prmMin || v > prmMax)
    Bad(prmKey, "must be between " + std::to_string(prmMin) + " and " + std::to_string(prmMax));
  return static_cast<int>(v);
}

std::string Text(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_string()) Bad(prmKey, "must be a string");
  return prmValue.get<std::string>();
}

bool Bool(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_boolean()) Bad(prmKey, "must be true or false");
  return prmValue.get<bool>();
}

// XML attribute and element values: strings as they are, integers in decimal.
std::string Value(const json& prmValue, const std::string& prmKey) {
  if (prmValue.is_number_integer()) return std::to_string(prmValue.get<int64_t>());
  if (!prmValue.is_string()) Bad(prmKey, "must be a string or an integer");
  return prmValue.get<std::string>();
}

const json& Object(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_object()) Bad(prmKey, "must be an object");
  return prmValue;
}

const json& Array(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_array()) Bad(prmKey, "must be an array");
  return prmValue;
}

TNameValues Pairs(const json& prmValue, const std::string& prmKey) {
  TNameValues out;
  for (auto& [k, v] : Object(prmValue, prmKey).items())
    out.emplace_back(k, Value(v, prmKey + "." + k));
  return out;
}

template <size_t N>
bool IsListed(const char* const (&prmNames)[N], const std::string& prmKey) {
  return std::find_if(std::begin(prmNames), std::end(prmNames),
                      [&](const char* n) { return prmKey == n; }) != std::end(prmNames);
}

TAvailHost ParseHost(const json& prmHost, const std::string& prmWhere) {
  TAvailHost h;
  std::string sessUser, sessPwd;
  bool masked = false;
  for (auto& [k, v] : Object(prmHost, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (IsListed(kHostAttrs, k))
      h.Attrs.emplace_back(k, Value(v, key));
    else if (k == "attrs")
      for (auto& p : Pairs(v, key)) h.Attrs.push_back(p);
    else if (k == "address")
      h.Address = Text(v, key);
    else if (k == "provParams")
      h.ProvParams = Pairs(v, key);
    else if (k == "availStates") {
      h.AvailStates.clear();
      for (const json& s : Array(v, key)) h.AvailStates.push_back(Int(s, key, -1000, 1000));
      if (h.AvailStates.empty()) Bad(key, "needs at least one state");
    } else if (k == "availHost")
      h.AvailHost = Text(v, key);
    else if (k == "vdiUser")
      h.VDIUser = Text(v, key);
    else if (k == "vdiPwd")
      h.VDIPwd = Text(v, key);
    else if (k == "vdiDomain")
      h.VDIDomain = Text(v, key);
    else if (k == "sessUser") {
      sessUser = Text(v, key);
      masked = true;
    } else if (k == "sessPwd") {
      sessPwd = Text(v, key);
      masked = true;
    } else
      Bad(key, "is not a known desktop key");
  }
  if (masked) {
    if (!h.Attr("SessInfo").empty()) Bad(prmWhere, "has both SessInfo and sessUser/sessPwd");
    h.SetAttr("SessInfo", MakeSessInfo(sessUser, sessPwd));
  }
  return h;
}

template <typename T, size_t N>
T ParseListed(const json& prmItem, const std::string& prmWhere, const char* const (&prmAttrs)[N]) {
  T item;
  for (auto& [k, v] : Object(prmItem, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (IsListed(prmAttrs, k))
      item.Attrs.emplace_back(k, Value(v, key));
    else if (k == "attrs")
      for (auto& p : Pairs(v, key)) item.Attrs.push_back(p);
    else if (k == "id")
      item.ID = Value(v, key);
    else
      Bad(key, "is not a known key");
  }
  return item;
}

TAvailFault ParseFault(const json& prmFault, const std::string& prmWhere) {
  TAvailFault f;
  for (auto& [k, v] : Object(prmFault, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (k == "path")
      f.Path = Text(v, key);
    else if (k == "skip")
      f.Skip = Int(v, key, 0, 1000000);
    else if (k == "count")
      f.Count = Int(v, key, 0, 1000000);
    else if (k == "status")
      f.Status = Int(v, key, 100, 599);
    else if (k == "body")
      f.Body = Text(v, key);
    else if (k == "malformed")
      f.Malformed = Bool(v, key);
    else if (k == "truncateAt")
      f.TruncateAt = Int(v, key, 0, 1 << 30);
    else if (k == "silent")
      f.Silent = Bool(v, key);
    else if (k == "close")
      f.CloseWithoutReply = Bool(v, key);
    else if (k == "delayMs")
      f.DelayMs = Int(v, key, 0, 3600000);
    else if (k == "transferCoding")
      f.TransferCoding = Bool(v, key);
    else
      Bad(key, "is not a known fault key");
  }
  if (f.Path.empty() || f.Path.front() != '/') Bad(prmWhere + ".path", "must begin with \"/\"");
  return f;
}

TAvailAppServer ParseAppServer(const json& prmValue, const std::string& prmWhere) {
  TAvailAppServer s;
  for (auto& [k, v] : Object(prmValue, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (k == "server")
      s.Server = Text(v, key);
    else if (k == "port")
      s.Port = Int(v, key, 0, 65535);
    else if (k == "error")
      s.Error = Int(v, key, -1000000, 1000000);
    else if (k == "info")
      s.ErrorInfo = Text(v, key);
    else
      Bad(key, "is not a known application-server key");
  }
  return s;
}

TXmlServiceApp ParseXmlApp(const json& prmValue, const std::string& prmWhere) {
  TXmlServiceApp a;
  for (auto& [k, v] : Object(prmValue, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (k == "name")
      a.Name = Text(v, key);
    else if (k == "folder")
      a.Folder = Text(v, key);
    else if (k == "winColor")
      a.WinColor = Int(v, key, 0, 64);
    else if (k == "icon32")
      a.Icon32 = Bool(v, key);
    else if (k == "serverAddress")
      a.ServerAddress = Text(v, key);
    else if (k == "cgpAddress")
      a.CGPAddress = Value(v, key);
    else if (k == "cgpIsPort")
      a.CGPIsPort = Bool(v, key);
    else if (k == "ticketTag")
      a.TicketTag = Text(v, key);
    else
      Bad(key, "is not a known XML-service application key");
  }
  return a;
}

TXmlService ParseXmlService(const json& prmValue, const std::string& prmWhere) {
  TXmlService x;
  for (auto& [k, v] : Object(prmValue, prmWhere).items()) {
    const std::string key = prmWhere + "." + k;
    if (k == "user")
      x.User = Text(v, key);
    else if (k == "password")
      x.Password = Text(v, key);
    else if (k == "domain")
      x.Domain = Text(v, key);
    else if (k == "refuseWith")
      x.RefuseWith = Text(v, key);
    else if (k == "multiSizeIcons")
      x.MultiSizeIcons = Bool(v, key);
    else if (k == "ticket")
      x.Ticket = Text(v, key);
    else if (k == "apps") {
      for (const json& a : Array(v, key)) x.Apps.push_back(ParseXmlApp(a, key + "[]"));
    } else if (k == "desktops") {
      for (auto& [id, d] : Object(v, key).items()) {
        TXmlServiceDesktop desk;
        for (auto& [dk, dv] : Object(d, key + "." + id).items()) {
          if (dk == "serverAddress")
            desk.ServerAddress = Text(dv, key + "." + id + "." + dk);
          else if (dk == "ticketTag")
            desk.TicketTag = Text(dv, key + "." + id + "." + dk);
          else
            Bad(key + "." + id + "." + dk, "is not a known desktop key");
        }
        x.Desktops[id] = desk;
      }
    } else
      Bad(key, "is not a known XML-service key");
  }
  return x;
}

void ParseTop(TAvailScenario& sc, const std::string& k, const json& v) {
  if (k == "listenAddress")
    sc.ListenAddress = Text(v, k);
  else if (k == "port")
    sc.Port = static_cast<uint16_t>(Int(v, k, 0, 65535));
  else if (k == "version")
    sc.Version = Text(v, k);
  else if (k == "vdiauth")
    sc.Vdiauth = Value(v, k);
  else if (k == "instance")
    sc.Instance = Text(v, k);
  else if (k == "omitInstance")
    sc.OmitInstance = Bool(v, k);
  else if (k == "settings")
    sc.Settings = Pairs(v, k);
  else if (k == "omitSettings")
    sc.OmitSettings = Bool(v, k);
  else if (k == "clientVerification") {
    for (auto& [ck, cv] : Object(v, k).items()) {
      if (ck == "text")
        sc.ClientVerification = Text(cv, k + ".text");
      else if (ck == "DeviceID")
        sc.ClientVerificationDeviceID = Int(cv, k + ".DeviceID", 0, 1000000);
      else
        Bad(k + "." + ck, "is not a known key");
    }
  } else if (k == "dpps") {
    sc.DPPs.emplace();
    for (const json& d : Array(v, k)) sc.DPPs->push_back(Pairs(d, k + "[]"));
  } else if (k == "rdpPort") {
    if (v.is_null())
      sc.RDPPort.reset();
    else
      sc.RDPPort = Int(v, k, 0, 65535);
  } else if (k == "hosts") {
    for (const json& h : Array(v, k))
      sc.Hosts.push_back(ParseHost(h, "hosts[" + std::to_string(sc.Hosts.size()) + "]"));
  } else if (k == "apps") {
    for (const json& a : Array(v, k))
      sc.Apps.push_back(ParseListed<TAvailApp>(a, "apps[]", kAppAttrs));
  } else if (k == "farms") {
    for (const json& f : Array(v, k))
      sc.Farms.push_back(ParseListed<TAvailFarm>(f, "farms[]", kFarmAttrs));
  } else if (k == "policy") {
    for (auto& [pk, pv] : Object(v, k).items()) {
      if (pk == "text")
        sc.PolicyText = Text(pv, k + ".text");
      else
        sc.PolicyAttrs.emplace_back(pk, Value(pv, k + "." + pk));
    }
  } else if (k == "rulesXml")
    sc.RulesXml = Text(v, k);
  else if (k == "userProfiles") {
    for (auto& [u, p] : Object(v, k).items()) sc.UserProfiles[u] = Text(p, k + "." + u);
  } else if (k == "appServers") {
    for (auto& [id, s] : Object(v, k).items()) sc.AppServers[id] = ParseAppServer(s, k + "." + id);
  } else if (k == "agentType") {
    sc.AgentType = Int(v, k, 0, 1000);
  } else if (k == "icons") {
    for (auto& [id, b64] : Object(v, k).items()) {
      try {
        TBytes png = Base64Decode(Text(b64, k + "." + id));
        sc.Icons[id] = std::string(png.begin(), png.end());
      } catch (const EBaseException&) {
        Bad(k + "." + id, "must be Base64 text");
      }
    }
  } else if (k == "xmlService")
    sc.XmlService = ParseXmlService(v, k);
  else if (k == "portal")
    sc.PortalParams = Pairs(v, k);
  else if (k == "keepAliveTimeoutMs")
    sc.KeepAliveTimeoutMs = Int(v, k, 1, 3600000);
  else if (k == "maxConnections")
    sc.MaxConnections = Int(v, k, 1, 10000);
  else if (k == "faults") {
    for (const json& f : Array(v, k))
      sc.Faults.push_back(ParseFault(f, "faults[" + std::to_string(sc.Faults.size()) + "]"));
  } else
    Bad(k, "is not a known scenario key");
}

}  // namespace

std::string TAvailHost::Attr(const std::string& prmName) const {
  for (const auto& [n, v] : Attrs)
    if (n == prmName) return v;
  return {};
}

void TAvailHost::SetAttr(const std::string& prmName, const std::string& prmValue) {
  for (auto& [n, v] : Attrs)
    if (n == prmName) {
      v = prmValue;
      return;
    }
  Attrs.emplace_back(prmName, prmValue);
}

const TAvailHost* TAvailScenario::FindHost(const std::string& prmIdOrAddress) const {
  if (prmIdOrAddress.empty()) return nullptr;
  for (const TAvailHost& h : Hosts)
    if (h.ID() == prmIdOrAddress) return &h;
  for (const TAvailHost& h : Hosts)
    if (h.Address == prmIdOrAddress) return &h;
  return nullptr;
}

const TAvailFault* TAvailScenario::FindFault(const std::string& prmPath, int prmNth) const {
  for (const TAvailFault& f : Faults)
    if (f.Path == prmPath && f.AppliesTo(prmNth)) return &f;
  return nullptr;
}

TAvailScenario AvailScenarioFromJson(const std::string& prmJsonText) {
  json doc;
  try {
    doc = json::parse(prmJsonText);
  } catch (const json::exception& e) {
    throw EBaseException(std::string("availability scenario: not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) throw EBaseException("availability scenario: must be a JSON object");
  TAvailScenario sc;
  for (auto& [k, v] : doc.items()) ParseTop(sc, k, v);
  return sc;
}

TAvailScenario AvailScenarioFromFile(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  if (!in) throw EBaseException("availability scenario: cannot read " + prmPath);
  std::ostringstream text;
  text << in.rdbuf();
  return AvailScenarioFromJson(text.str());
}

std::string MakeSessInfo(const std::string& prmUser, const std::string& prmPwd) {
  return Base64Encode(MaskUnmaskStr(prmUser)) + "@" + Base64Encode(MaskUnmaskStr(prmPwd));
}

const char* AvailabilityScenarioHelp() {
  return R"(availability scenario keys (JSON object; all optional):
  listenAddress "127.0.0.1"  loopback address to listen on;  port 0  (0: any free port)
  /query/info:    version "4.0.3", vdiauth "" (text of "vdiauth"; "" leaves it out),
                  instance "inst1", omitInstance false, settings {name: value, ...} (children
                  of "Settings" in order), omitSettings false
  /query/hosts:   clientVerification {"text": "Failed", "DeviceID": 2}, dpps [{"RDrv": 1, ...}],
                  rdpPort 3389 (null leaves it out), hosts [...], apps [...], farms [...]
    hosts[]:      address (element text), ID, Desc, Days, Protocol, State, Provider, ProviderID,
                  desktopID, Params, SessInfo (attributes, written only when given),
                  sessUser + sessPwd (SessInfo masked as the portal does), attrs {other: value},
                  provParams {name: value}, availStates [2, 2, 3] (the State of successive
                  /query/avail replies; the last repeats), availHost, vdiUser, vdiPwd, vdiDomain
    apps[]:       id (element text), Name, Desc, Loc, Dir, Height, Width, Folder, attrs {}
    farms[]:      id (element text), FarmName, Folder, Servers, attrs {}
  /query/clientverification:  policy {"text": "Disabled", "Policies": "...", "ExtAudit": 1}
  /query/clientverification2: rulesXml "<Rules/>"
  /query/userprofile, /object/userprofile: userProfiles {user: "NAME=value;..."}
  /query/appserver: appServers {appid: {"server": "10.0.0.7", "port": 3389} or {"error": 3,
                  "info": "text"}}
  /query/iconcache, /object/iconcache, /query/appicon: icons {appid: "Base64 PNG"}
  /agent/info:    agentType 2 (the server agent's "ServerInfo" Type; 0 leaves "ServerInfo"
                  out; absent: no such path)
  /object/newstatesess, /object/powerup, /object/del: answer for listed desktops (by ID or
                  address); a deleted desktop leaves later host lists
  /scripts/wpnbr.dll (POST): the XenApp XML service, xmlService {"user": "demo", "password":
                  "...", "domain": "DEMO" (accepted credentials; no user: any), "refuseWith":
                  "failed-credentials", "multiSizeIcons": true, "ticket": "TICKET-1",
                  "apps": [{"name": "Word", "folder": "Office", "winColor": 8, "icon32": false,
                  "serverAddress": "10.0.1.20", "cgpAddress": 2598, "cgpIsPort": true,
                  "ticketTag": "A:B"}], "desktops": {"id": {"serverAddress": "10.0.1.21",
                  "ticketTag": "T"}}}
  /portal, /portal/session.vantrel: portal {name: value, ...} (the session file's lines, in
                  order; the page links the file and the same as a vantrel: URL)
  keepAliveTimeoutMs 30000, maxConnections 64
  faults [{"path": "/query/info", "skip": 0, "count": 1, "status": 500, "body": "...",
          "malformed": true, "truncateAt": 10, "silent": true, "close": true, "delayMs": 100,
          "transferCoding": true}]  misbehaviours for the path's requests skip+1 .. skip+count
          (count 0: all later ones)
)";
}

}  // namespace vantrel::testpeer
