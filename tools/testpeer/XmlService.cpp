#include "testpeer/XmlService.h"

#include <set>

#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel::testpeer {

namespace {

constexpr size_t kIcon16Bytes = 640;  // AND mask, then 4-bit colour indexes
constexpr size_t kIcon32Bytes = 4096;

TXmlNode AddText(const TXmlNode& prmParent, const char* prmName, const std::string& prmText) {
  TXmlNode n = prmParent.AddChild(prmName);
  n.SetText(prmText);
  return n;
}

bool Accepted(const TXmlService& prmService, const TXmlNode& prmRequest) {
  if (prmService.User.empty()) return true;
  TXmlNode creds = prmRequest.FindFirst("Credentials");
  return creds.FindFirst("UserName").Text() == prmService.User &&
         creds.FindFirst("Password").Text() == prmService.Password &&
         SameText(creds.FindFirst("Domain").Text(), prmService.Domain);
}

void AppData(const TXmlNode& prmParent, const TXmlServiceApp& prmApp, bool prmWithIcon) {
  TXmlNode d = prmParent.AddChild("AppData");
  AddText(d, "InName", prmApp.Name);
  AddText(d, "FName", prmApp.Name);
  AddText(d, "SeqNo", prmApp.Name);
  AddText(d, "Description", prmApp.Name + " (published)");
  AddText(d, "WinType", "pixels");
  AddText(d, "WinHeight", "600");
  AddText(d, "WinWidth", "800");
  AddText(d, "WinColor", std::to_string(prmApp.WinColor));
  AddText(d, "SoundType", "basic");
  if (!prmApp.Folder.empty()) AddText(d, "Folder", prmApp.Folder);
  if (prmWithIcon) AddText(d, "Icon", XmlServiceIcon16Letters());
}

void Icons(const TXmlNode& prmReply, const TXmlService& prmService) {
  for (const TXmlServiceApp& app : prmService.Apps) {
    TXmlNode d = prmReply.AddChild("AppData");
    AddText(d, "SeqNo", app.Name);
    if (!app.Icon32) {
      AddText(d, "Icon", XmlServiceIcon16Letters());
      continue;
    }
    TXmlNode icon = AddText(d, "IconData", XmlServiceIcon32Base64());
    icon.SetAttrInt("bpp", 32);
    icon.SetAttrInt("size", 32);
  }
}

bool AppAddress(const TXmlNode& prmReply, const TXmlService& prmService,
                const std::string& prmName) {
  for (const TXmlServiceApp& app : prmService.Apps) {
    if (app.Name != prmName) continue;
    AddText(prmReply, "ServerAddress", app.ServerAddress).SetAttr("addresstype", "dot-port");
    if (!app.CGPAddress.empty()) {
      TXmlNode cgp = AddText(prmReply, "CGPAddress", app.CGPAddress);
      if (app.CGPIsPort) cgp.SetAttr("addresstype", "port");
    }
    AddText(prmReply, "TicketTag", app.TicketTag);
    return true;
  }
  return false;
}

bool DesktopAddress(const TXmlNode& prmReply, const TXmlService& prmService,
                    const std::string& prmID) {
  auto it = prmService.Desktops.find(prmID);
  if (it == prmService.Desktops.end()) return false;
  if (!it->second.ServerAddress.empty())
    AddText(prmReply, "ServerAddress", it->second.ServerAddress).SetAttr("addresstype", "dns-port");
  if (!it->second.TicketTag.empty()) AddText(prmReply, "TicketTag", it->second.TicketTag);
  return true;
}

}  // namespace

std::string XmlServiceIcon16Letters() {
  std::string letters;
  for (size_t i = 0; i < kIcon16Bytes; ++i) {
    // A transparent top half (mask bits set), then a square of blue (12) framed in red (9).
    const uint8_t b = i < 128 ? (i < 64 ? 0xFF : 0x00) : (((i - 128) % 16) < 2 ? 0x99 : 0xCC);
    letters += static_cast<char>('A' + (b >> 4));
    letters += static_cast<char>('A' + (b & 0x0F));
  }
  return letters;
}

std::string XmlServiceIcon32Base64() {
  std::string pixels;
  for (size_t i = 0; i < kIcon32Bytes / 4; ++i) pixels += std::string("\x30\xA0\x10\xFF", 4);
  return Base64Encode(pixels);
}

std::string XmlServiceReply(const TXmlService& prmService, const std::string& prmRequestBody,
                            std::vector<std::string>& prmErrors) {
  TXmlDoc request = TXmlDoc::Parse(prmRequestBody);
  TXmlNode root = request.Root();
  std::vector<TXmlNode> children = root ? root.Children() : std::vector<TXmlNode>{};
  TXmlNode ask = children.empty() ? TXmlNode() : children.front();
  const std::string kind = ask ? ask.Name() : std::string();
  TXmlDoc reply = TXmlDoc::Create("NFuseProtocol");
  reply.Root().SetAttr("version", root ? root.Attr("version", "1.2") : "1.2");
  const std::string responseName =
      kind.rfind("Request", 0) == 0 ? "Response" + kind.substr(7) : "ResponseError";
  TXmlNode response = reply.Root().AddChild(responseName);
  auto refuse = [&](const std::string& prmId) {
    AddText(response, "ErrorId", prmId);
    return reply.SaveToString();
  };
  if (kind == "RequestCapabilities") {
    if (prmService.MultiSizeIcons) AddText(response, "CapabilityId", "multi-image-icons");
    return reply.SaveToString();
  }
  if (kind != "RequestAppData" && kind != "RequestAddress" && kind != "RequestTicket") {
    prmErrors.push_back("XML service: unknown request " + (kind.empty() ? "(none)" : kind));
    return refuse("bad-request");
  }
  if (!Accepted(prmService, ask)) return refuse(prmService.RefuseWith);
  if (kind == "RequestTicket") {
    AddText(response, "Ticket", prmService.Ticket);
  } else if (kind == "RequestAddress") {
    const std::string name = ask.FindFirst("AppName").Text();
    const bool desktop = ask.FindFirst("ServerAddress").Attr("addresstype") == "dns-port";
    if (desktop ? !DesktopAddress(response, prmService, name)
                : !AppAddress(response, prmService, name))
      return refuse("no-server");
  } else if (ask.FindFirst("DesiredDetails").Text() == "icon") {
    Icons(response, prmService);
  } else {
    const bool withIcons = ask.FindFirst("DesiredDetails").Text() == "all";
    for (const TXmlServiceApp& app : prmService.Apps) AppData(response, app, withIcons);
  }
  return reply.SaveToString();
}

std::vector<std::string> IcaServers(const TXmlService& prmService) {
  std::set<std::string> servers;
  auto add = [&](const std::string& prmAddress) {
    if (!prmAddress.empty())
      servers.insert(prmAddress.find(':') == std::string::npos ? prmAddress + ":1494" : prmAddress);
  };
  for (const TXmlServiceApp& app : prmService.Apps) add(app.ServerAddress);
  for (const auto& [id, desk] : prmService.Desktops) add(desk.ServerAddress);
  return {servers.begin(), servers.end()};
}

}  // namespace vantrel::testpeer
