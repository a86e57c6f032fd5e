// The reference XenApp XML service: answers the request documents POSTed to "/scripts/wpnbr.dll"
// from a scenario, as the availability peer serves that path (so the gateway reaches it like any
// server behind it, and its faults, chunked replies among them, apply per path). Pure: one request
// document in, one reply document out.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vantrel::testpeer {

constexpr char kXmlServicePath[] = "/scripts/wpnbr.dll";

struct TXmlServiceApp {
  std::string Name;  // "FName", "InName" (the location asked for at launch) and "SeqNo"
  std::string Folder;
  int WinColor = 8;
  bool Icon32 = false;  // the icon request answers "IconData" (32-bit) instead of "Icon"
  // The address request's answer.
  std::string ServerAddress = "10.0.1.20";
  std::string CGPAddress;  // empty: no "CGPAddress"
  bool CGPIsPort = false;  // written with "addresstype"="port"
  std::string TicketTag = "TAG1:TAG2";
};

struct TXmlServiceDesktop {
  std::string ServerAddress;  // empty: no "ServerAddress"
  std::string TicketTag;      // empty: no "TicketTag"
};

struct TXmlService {
  // The credentials accepted; an empty user accepts any. Others are refused with RefuseWith.
  std::string User, Password, Domain;
  std::string RefuseWith = "failed-credentials";
  bool MultiSizeIcons = true;  // "RequestCapabilities" answers "multi-image-icons"
  std::vector<TXmlServiceApp> Apps;
  std::map<std::string, TXmlServiceDesktop> Desktops;  // by desktop identifier
  std::string Ticket = "TICKET-1";
};

// The reply document's text for one request body; an unknown or unreadable request gets an
// "ErrorId" of "bad-request" (and a line in prmErrors).
std::string XmlServiceReply(const TXmlService& prmService, const std::string& prmRequestBody,
                            std::vector<std::string>& prmErrors);

// The "host:port" of every ICA server the service names (port 1494 where an address has none),
// each once: what a gateway relays the launched clients to.
std::vector<std::string> IcaServers(const TXmlService& prmService);

// The 1280 letters of a 16-colour icon and the Base64 text of a 32-bit one, both a plain square.
std::string XmlServiceIcon16Letters();
std::string XmlServiceIcon32Base64();

}  // namespace vantrel::testpeer
