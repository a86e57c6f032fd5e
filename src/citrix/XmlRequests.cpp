#include "citrix/XmlRequests.h"

#include <functional>

namespace vantrel {

namespace {

// The document with its one request element, which prmFill completes.
TXmlDoc NewRequest(const char* prmVersion, const char* prmRequest,
                   const std::function<void(const TXmlNode&)>& prmFill) {
  TXmlDoc doc = TXmlDoc::Create("NFuseProtocol");
  doc.Root().SetAttr("version", prmVersion);
  prmFill(doc.Root().AddChild(prmRequest));
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

// The application list; with prmIcons, each application's 32x32 icon at 32 bits per pixel.
TXmlDoc AppDataRequest(const char* prmVersion, const std::string& prmDetails,
                       const TCitrixCreds& prmCreds, bool prmIcons) {
  return NewRequest(prmVersion, "RequestAppData", [&](const TXmlNode& prmRequest) {
    AddFolderScope(prmRequest);
    AddTextChild(prmRequest, "DesiredDetails", prmDetails);
    if (prmIcons) {
      TXmlNode iconData = prmRequest.AddChild("DesiredIconData");
      iconData.SetAttrInt("Size", 32);
      iconData.SetAttrInt("bpp", 32);
    }
    AddTextChild(prmRequest, "ServerType", "all");
    AddTextChild(prmRequest, "ClientType", "ica30");
    AddCredentials(prmRequest, prmCreds, false);
  });
}

}  // namespace

TXmlDoc BuildCapabilitiesRequest() {
  return NewRequest("4.6", "RequestCapabilities", [](const TXmlNode&) {});
}

TXmlDoc BuildAppDataRequest(const std::string& prmDetails, const TCitrixCreds& prmCreds) {
  return AppDataRequest("1.2", prmDetails, prmCreds, false);
}

TXmlDoc BuildAppIconsRequest(const TCitrixCreds& prmCreds) {
  return AppDataRequest("4.6", "icon", prmCreds, true);
}

TXmlDoc BuildAppAddressRequest(const std::string& prmLocation, const TCitrixCreds& prmCreds) {
  return NewRequest("1.2", "RequestAddress", [&](const TXmlNode& prmRequest) {
    AddAppName(prmRequest, prmLocation, "dot-port");
    prmRequest.AddChild("Flags");
    AddCredentials(prmRequest, prmCreds, false);
  });
}

TXmlDoc BuildDesktopAddressRequest(const std::string& prmDesktopID, const TCitrixCreds& prmCreds) {
  return NewRequest("4.6", "RequestAddress", [&](const TXmlNode& prmRequest) {
    AddAppName(prmRequest, prmDesktopID, "dns-port");
    AddCredentials(prmRequest, prmCreds, false);
    AddTextChild(prmRequest, "ClientType", "ica30");
    prmRequest.AddChild("DeviceId");
  });
}

TXmlDoc BuildTicketRequest(const std::string& prmTicketTag, const TCitrixCreds& prmCreds) {
  return NewRequest("1.2", "RequestTicket", [&](const TXmlNode& prmRequest) {
    AddCredentials(prmRequest, prmCreds, true);
    AddTextChild(prmRequest, "TicketType", "CtxLogon");
    AddTextChild(prmRequest, "TicketTag", prmTicketTag);
    prmRequest.AddChild("TimetoLive").SetText(std::to_string(200));
  });
}

}  // namespace vantrel
