#include "citrix/XmlRequests.h"

namespace vantrel {

namespace {

// The document and its request element.
TXmlDoc NewRequest(const char* prmVersion, const char* prmRequest, TXmlNode& prmElement) {
  TXmlDoc doc = TXmlDoc::Create("NFuseProtocol");
  doc.Root().SetAttr("version", prmVersion);
  prmElement = doc.Root().AddChild(prmRequest);
  return doc;
}

void AddTextChild(const TXmlNode& prmParent, const char* prmName, const std::string& prmText) {
  prmParent.AddChild(prmName).SetText(prmText);
}

void AddCredentials(const TXmlNode& prmParent, const TCitrixCreds& prmCreds, bool prmNTDomain) {
  TXmlNode creds = prmParent.AddChild("Credentials");
  AddTextChild(creds, "UserName", prmCreds.UserName);
  TXmlNode password = creds.AddChild("Password");
  password.SetAttr("encoding", "cleartext");
  password.SetText(prmCreds.Password);
  TXmlNode domain = creds.AddChild("Domain");
  if (prmNTDomain) domain.SetAttr("type", "NT");
  domain.SetText(prmCreds.Domain);
}

void AddFolderScope(const TXmlNode& prmParent) {
  TXmlNode scope = prmParent.AddChild("Scope");
  scope.SetAttr("traverse", "subtree");
  scope.SetAttr("type", "PNFolder");
}

void AddAppName(const TXmlNode& prmParent, const std::string& prmName, const char* prmAddressType) {
  AddTextChild(prmParent.AddChild("Name"), "AppName", prmName);
  prmParent.AddChild("ServerAddress").SetAttr("addresstype", prmAddressType);
}

}  // namespace

TXmlDoc BuildCapabilitiesRequest() {
  TXmlNode request;
  return NewRequest("4.6", "RequestCapabilities", request);
}

TXmlDoc BuildAppDataRequest(const std::string& prmDetails, const TCitrixCreds& prmCreds) {
  TXmlNode request;
  TXmlDoc doc = NewRequest("1.2", "RequestAppData", request);
  AddFolderScope(request);
  AddTextChild(request, "DesiredDetails", prmDetails);
  AddTextChild(request, "ServerType", "all");
  AddTextChild(request, "ClientType", "ica30");
  AddCredentials(request, prmCreds, false);
  return doc;
}

TXmlDoc BuildAppIconsRequest(const TCitrixCreds& prmCreds) {
  TXmlNode request;
  TXmlDoc doc = NewRequest("4.6", "RequestAppData", request);
  AddFolderScope(request);
  AddTextChild(request, "DesiredDetails", "icon");
  TXmlNode iconData = request.AddChild("DesiredIconData");
  iconData.SetAttrInt("Size", 32);
  iconData.SetAttrInt("bpp", 32);
  AddTextChild(request, "ServerType", "all");
  AddTextChild(request, "ClientType", "ica30");
  AddCredentials(request, prmCreds, false);
  return doc;
}

TXmlDoc BuildAppAddressRequest(const std::string& prmLocation, const TCitrixCreds& prmCreds) {
  TXmlNode request;
  TXmlDoc doc = NewRequest("1.2", "RequestAddress", request);
  AddAppName(request, prmLocation, "dot-port");
  request.AddChild("Flags");
  AddCredentials(request, prmCreds, false);
  return doc;
}

TXmlDoc BuildDesktopAddressRequest(const std::string& prmDesktopID, const TCitrixCreds& prmCreds) {
  TXmlNode request;
  TXmlDoc doc = NewRequest("4.6", "RequestAddress", request);
  AddAppName(request, prmDesktopID, "dns-port");
  AddCredentials(request, prmCreds, false);
  AddTextChild(request, "ClientType", "ica30");
  request.AddChild("DeviceId");
  return doc;
}

TXmlDoc BuildTicketRequest(const std::string& prmTicketTag, const TCitrixCreds& prmCreds) {
  TXmlNode request;
  TXmlDoc doc = NewRequest("1.2", "RequestTicket", request);
  AddCredentials(request, prmCreds, true);
  AddTextChild(request, "TicketType", "CtxLogon");
  AddTextChild(request, "TicketTag", prmTicketTag);
  request.AddChild("TimetoLive").SetText(std::to_string(200));
  return doc;
}

}  // namespace vantrel
