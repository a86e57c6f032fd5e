// What the reference availability server knows and how it misbehaves: server information,
// desktops with their state sequences, applications, farms, flags, verification replies, user
// profiles, icons and per-path faults. Built in code or read from JSON (keys listed by
// AvailabilityScenarioHelp, which the program prints for --help).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testpeer/AvailabilityHttp.h"
#include "testpeer/XmlService.h"

namespace vantrel::testpeer {

// One registered desktop: the "Host" element of the catalogue and what state queries answer.
struct TAvailHost {
  std::string Address;  // element text: the address the RDP client connects to
  // XML attributes in the order they are written ("ID", "Desc", "State", "Provider", ...); an
  // attribute that is not listed is left out of the element.
  TNameValues Attrs;
  TNameValues ProvParams;  // children of the matching "ProvParams"; none: no element
  // States that successive "/query/avail" replies for this desktop carry; the last one repeats.
  std::vector<int> AvailStates{3};
  // "StateSess" attributes sent with every state reply when not empty.
  std::string AvailHost, VDIUser, VDIPwd, VDIDomain;

  std::string Attr(const std::string& prmName) const;  // empty when absent
  void SetAttr(const std::string& prmName, const std::string& prmValue);
  std::string ID() const { return Attr("ID"); }
};

struct TAvailApp {
  std::string ID;  // element text
  TNameValues Attrs;
};

struct TAvailFarm {
  std::string ID;  // element text (a number, or anything for fault tests)
  TNameValues Attrs;
};

struct TAvailAppServer {
  std::string Server;  // empty: the reply carries an "Error" element instead
  int Port = 3389;
  int Error = 0;
  std::string ErrorInfo;
};

// A misbehaviour for requests to one path. Requests are counted per path from 1; the fault
// applies to requests Skip+1 .. Skip+Count (Count 0: all after Skip).
struct TAvailFault {
  std::string Path;
  int Skip = 0;
  int Count = 0;
  int Status = 0;                   // 0: the normal status; otherwise this status
  std::optional<std::string> Body;  // sent in place of the normal body
  bool Malformed = false;           // body cut before its last ">", so it is not well-formed
  int TruncateAt = -1;  // >= 0: full Content-Length announced, this many bytes sent, then close
  bool Silent = false;  // never answer; the connection is held until the client or Stop ends it
  bool CloseWithoutReply = false;
  int DelayMs = 0;
  bool TransferCoding = false;  // body chunked under "Transfer-Coding: CHUNKED"

  bool AppliesTo(int prmNth) const {
    return prmNth > Skip && (Count == 0 || prmNth <= Skip + Count);
  }
};

struct TAvailScenario {
  std::string ListenAddress = "127.0.0.1";  // must be a loopback address
  uint16_t Port = 0;                        // 0: any free port

  // "/query/info". An empty Version or Vdiauth leaves its element out; so does an empty
  // Instance when OmitInstance is set (an empty text element otherwise).
  std::string Version = "4.0.3";
  std::string Vdiauth;
  std::string Instance = "inst1";
  bool OmitInstance = false;
  TNameValues Settings;  // children of "Settings", in order; none: no element
  bool OmitSettings = false;

  // "/query/hosts".
  std::optional<std::string> ClientVerification;  // text of "ClientVerification"; none: absent
  int ClientVerificationDeviceID = -1;            // written as "DeviceID" when >= 0
  std::optional<std::vector<TNameValues>> DPPs;   // attributes of each "DPP"; none: no "DPPs"
  std::optional<int> RDPPort = 3389;              // "Hosts" attribute "RDPPort"
  std::vector<TAvailHost> Hosts;
  std::vector<TAvailApp> Apps;
  std::vector<TAvailFarm> Farms;

  // "/query/clientverification" ("ClientVerification" text and attributes) and
  // "/query/clientverification2" (the rules document as text).
  std::string PolicyText = "Disabled";
  TNameValues PolicyAttrs;
  std::string RulesXml = "<Rules/>";

  std::map<std::string, std::string> UserProfiles;  // user name -> delimited profile text
  std::map<std::string, TAvailAppServer> AppServers;
  // "/agent/info", when this peer plays a server agent: "ServerInfo" with this "Type"; 0 leaves
  // "ServerInfo" out. None: the path is unknown.
  std::optional<int> AgentType;
  std::map<std::string, std::string> Icons;  // application identifier -> PNG bytes held at start

  // "/scripts/wpnbr.dll": the farms' XenApp XML service; the gateway maps the farm's servers here.
  TXmlService XmlService;

  // "/portal" and "/portal/session.vantrel": the parameters of the session file the portal page
  // offers, in order.
  TNameValues PortalParams;

  int KeepAliveTimeoutMs = 30000;  // idle time before the peer closes a kept-alive connection
  int MaxConnections = 64;         // connections beyond this are closed at once
  std::vector<TAvailFault> Faults;

  const TAvailHost* FindHost(const std::string& prmIdOrAddress) const;
  // The first fault for this path that applies to its prmNth request.
  const TAvailFault* FindFault(const std::string& prmPath, int prmNth) const;
};

// Raises EBaseException naming the offending key or value; unknown keys are errors so that a
// misspelt setting does not silently fall back to its default.
TAvailScenario AvailScenarioFromJson(const std::string& prmJsonText);
TAvailScenario AvailScenarioFromFile(const std::string& prmPath);

// "SessInfo" for a desktop user and password, masked as the portal does.
std::string MakeSessInfo(const std::string& prmUser, const std::string& prmPwd);

const char* AvailabilityScenarioHelp();

}  // namespace vantrel::testpeer
