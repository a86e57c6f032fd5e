#include "citrix/CitrixUtil.h"

#include <mutex>

#include "catalogue/XenAppFarm.h"
#include "citrix/AppData.h"
#include "diag/DebugLog.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

namespace {

// The service GetAllApps last listed. Written on the connect thread while the catalogue loads;
// locked all the same, since a launch may read the farm's service from the window thread.
std::mutex g_ServiceLock;
std::string g_ServiceHost;
int g_ServicePort = 0;

// The server text split into host and port; false when the port is outside the TCP range.
bool SplitServer(const std::string& prmServer, std::string& prmHost, int& prmPort) {
  SplitHostPort(prmServer, 80, prmHost, prmPort);
  return IsTcpPort(prmPort);
}

// prmHost as a dotted address: as it is, or resolved through the tunnel; false when not found.
bool ResolveServer(const TCitrixLink& prmLink, const std::string& prmHost, std::string& prmAddr) {
  auto resolve = [&prmLink](const std::string& prmName) {
    if (prmLink.Tunnel == nullptr || (prmLink.Cancel && prmLink.Cancel())) return kResolveNotFound;
    return prmLink.Tunnel->ResolveHost(prmName);
  };
  return ResolveDotted(prmHost, resolve, prmAddr);
}

bool ReachServer(const TCitrixLink& prmLink, const std::string& prmServer, std::string& prmAddr,
                 int& prmPort) {
  std::string host;
  return SplitServer(prmServer, host, prmPort) && ResolveServer(prmLink, host, prmAddr);
}

// The exchange: true with a parsed reply. A reply that was read but not parsed is no answer: an
// empty document would otherwise pass the reply check as a success.
bool GetParsedResp(const TCitrixLink& prmLink, const std::string& prmHost, int prmPort,
                   const TXmlDoc& prmRequest, TXmlDoc& prmReply) {
  return GetCitrixResp(prmLink, prmHost, prmPort, prmRequest, prmReply) && prmReply.IsValid();
}

// The exchange and the reply check: 0 with prmReply to read, or the failure's code.
TCitrixResult Exchange(const TCitrixLink& prmLink, const std::string& prmHost, int prmPort,
                       const TXmlDoc& prmRequest, TXmlDoc& prmReply) {
  if (!GetParsedResp(prmLink, prmHost, prmPort, prmRequest, prmReply)) return kCitrixNoReply;
  return HasErrorId(prmReply) ? GetErrorCode(prmReply) : kCitrixOK;
}

// The address request of an application or a desktop.
TCitrixResult RequestAddress(const TCitrixLink& prmLink, const std::string& prmServer,
                             const TXmlDoc& prmRequest, TCitrixAddress& prmAddress) {
  prmAddress = TCitrixAddress();
  std::string host;
  int port = 80;
  if (!ReachServer(prmLink, prmServer, host, port)) return kCitrixNoReply;
  TXmlDoc reply;
  TCitrixResult code = Exchange(prmLink, host, port, prmRequest, reply);
  if (code == kCitrixOK) prmAddress = ParseAddressReply(reply);
  return code;
}

}  // namespace

TCitrixResult CitrixAuthUser(const std::string& prmServer, const TCitrixLink& prmLink,
                             const TCitrixCreds& prmCreds) {
  WriteDebugLog("CitrixAuthUser - Begin");
  WriteDebugLog("CitrixAuthUser - Preparing XML");
  TXmlDoc request = BuildAppDataRequest("defaults", prmCreds);
  if (!request.IsValid()) {
    WriteDebugLog("CitrixAuthUser - Failed to initialize request");
    return kCitrixNoReply;
  }
  std::string host, addr;
  int port = 80;
  const bool split = SplitServer(prmServer, host, port);
  WriteDebugLog("CitrixaAuthUser - Getting information from " + host + ":" + std::to_string(port));
  WriteDebugLog("CitrixAuthUser - Resolving server address");
  const bool dotted = IsDottedQuad(host);
  if (!dotted) WriteDebugLog("CitrixAuthUser - Resolving server address on Pelx");
  if (!split || !ResolveServer(prmLink, host, addr)) {
    WriteDebugLog("CitrixAuthUser - Failed to resolve server address on Pelx");
    return kCitrixNoServer;
  }
  if (!dotted) WriteDebugLog("CitrixAuthUser - Server resolved on the Pelx (" + addr + ")");
  WriteDebugLog("CitrixAuthUser - Getting response");
  TXmlDoc reply;
  if (!GetParsedResp(prmLink, addr, port, request, reply)) {
    WriteDebugLog("CitrixAuthUser - Failed to get response");
    return kCitrixNoReply;
  }
  if (!HasErrorId(reply)) {
    WriteDebugLog("CitrixAuthResponse - Done");
    WriteDebugLog("CitrixAuthResponse - Exit");
    return kCitrixOK;
  }
  WriteDebugLog("CitrixAuthResponse - Got invalid response");
  TCitrixResult code = GetErrorCode(reply);
  WriteDebugLog("CitrixAuthResponse - Got invalid response exit");
  return code;
}

TCitrixResult GetAllApps(TXenAppFarm& prmFarm, const std::string& prmServer,
                         TAppCatalogue& prmCatalogue, const std::string& prmFarmFolder,
                         const TCitrixLink& prmLink, const TCitrixCreds& prmCreds) {
  std::string host;
  int port = 80;
  if (!ReachServer(prmLink, prmServer, host, port)) return kCitrixNoServer;
  {
    std::lock_guard<std::mutex> guard(g_ServiceLock);
    g_ServiceHost = host;
    g_ServicePort = port;
  }
  // Services that offer icons of several sizes send them only when asked for them apart.
  TXmlDoc capabilities;
  const bool multiSize =
      Exchange(prmLink, host, port, BuildCapabilitiesRequest(), capabilities) == kCitrixOK &&
      SupportsMultiSizeIcons(capabilities);
  TXmlDoc reply;
  TCitrixResult code = Exchange(
      prmLink, host, port, BuildAppDataRequest(multiSize ? "defaults" : "all", prmCreds), reply);
  if (code != kCitrixOK) return code;
  ParseAppData(reply, prmFarm, prmServer, prmCatalogue, prmFarmFolder, !multiSize);
  if (!multiSize) WriteDebugLog("supportMultiSizeIcons is false, exit");
  return kCitrixOK;
}

TCitrixResult GetAllAppIcons(TXenAppFarm& prmFarm, const TCitrixLink& prmLink,
                             const TCitrixCreds& prmCreds) {
  std::string host;
  int port = 0;
  GetCurrentService(host, port);
  if (host.empty()) return kCitrixNoReply;
  TXmlDoc reply;
  TCitrixResult code = Exchange(prmLink, host, port, BuildAppIconsRequest(prmCreds), reply);
  if (code == kCitrixOK) ParseAppIcons(reply, prmFarm);
  return code;
}

TCitrixResult GetAppAddress(const TCitrixLink& prmLink, const std::string& prmServer,
                            const std::string& prmLocation, const TCitrixCreds& prmCreds,
                            TCitrixAddress& prmAddress) {
  return RequestAddress(prmLink, prmServer, BuildAppAddressRequest(prmLocation, prmCreds),
                        prmAddress);
}

TCitrixResult GetDesktopAddress(const TCitrixLink& prmLink, const std::string& prmServer,
                                const std::string& prmDesktopID, const TCitrixCreds& prmCreds,
                                TCitrixAddress& prmAddress) {
  return RequestAddress(prmLink, prmServer, BuildDesktopAddressRequest(prmDesktopID, prmCreds),
                        prmAddress);
}

TCitrixResult GetLogonTicket(const TCitrixLink& prmLink, const std::string& prmServer,
                             const TCitrixCreds& prmCreds, const std::string& prmTicketTag,
                             std::string& prmTicket) {
  prmTicket.clear();
  WriteDebugLog("GetLogonTicket - Begin");
  TXmlDoc request = BuildTicketRequest(prmTicketTag, prmCreds);
  if (!request.IsValid()) {
    WriteDebugLog("GetLogonTicket - Failed to allocate request");
    return kCitrixNoReply;
  }
  WriteDebugLog("GetLogonTicket - Creating XML Response");
  WriteDebugLog("GetLogonTicket - Extract server information");
  std::string host;
  int port = 80;
  const bool split = SplitServer(prmServer, host, port);
  WriteDebugLog("GetLogonTicket - Server information extracted " + host + ":" +
                std::to_string(port));
  std::string addr;
  if (!split || !ResolveServer(prmLink, host, addr)) return kCitrixNoServer;
  TXmlDoc reply;
  TCitrixResult code = Exchange(prmLink, addr, port, request, reply);
  if (code == kCitrixOK) prmTicket = ParseTicketReply(reply);
  return code;
}

void GetCurrentService(std::string& prmHost, int& prmPort) {
  std::lock_guard<std::mutex> guard(g_ServiceLock);
  prmHost = g_ServiceHost;
  prmPort = g_ServicePort;
}

}  // namespace vantrel
