#include "citrix/AppData.h"

#include <memory>

#include "catalogue/AppCatalogue.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/IconBuild.h"
#include "citrix/IconPng.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

// Element text read as an integer: not an integer gives 0.
int IntText(const TXmlNode& prmNode) {
  int value = 0;
  return TryStrToInt(Trim(prmNode.Text()), value) ? value : 0;
}

std::string EncryptionLevel(const std::string& prmText) {
  static const char* const kLevels[][2] = {{"basic", "Basic"},
                                           {"rc5-login", "EncRC5-0"},
                                           {"rc5-40", "EncRC5-40"},
                                           {"rc5-56", "EncRC5-56"},
                                           {"rc5-128", "EncRC5-128"}};
  for (const auto& level : kLevels)
    if (prmText == level[0]) return level[1];
  return {};
}

// The path an application is filed under: one leading "\" and then one trailing "\" removed.
std::string AppFolderPath(const std::string& prmFarmFolder, const std::string& prmFolder) {
  std::string path = prmFarmFolder + "\\" + prmFolder;
  if (!path.empty() && path.front() == '\\') path.erase(0, 1);
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// The window settings; false when a required element is missing.
bool ReadWindow(const TXmlNode& prmData, TXenApp& prmApp) {
  TXmlNode winType = prmData.FindFirst("WinType");
  if (!winType) return false;
  const std::string type = winType.Text();
  if (type == "percent") {
    TXmlNode scale = prmData.FindFirst("WinScale");
    if (!scale) return false;
    prmApp.m_WinType = 2;
    prmApp.m_WinPercent = IntText(scale);
  } else if (type == "pixels") {
    TXmlNode height = prmData.FindFirst("WinHeight"), width = prmData.FindFirst("WinWidth");
    if (!height || !width) return false;
    prmApp.m_WinType = 3;
    prmApp.SetSize(IntText(height), IntText(width));
  } else if (type == "fullscreen") {
    prmApp.m_WinType = 1;
  }
  return true;
}

// The application of one "AppData"; nullptr when a required element is missing.
std::unique_ptr<TXenApp> ReadApp(const TXmlNode& prmData, TXenAppFarm& prmFarm,
                                 const std::string& prmServer, bool prmDecodeIcons) {
  auto app = std::make_unique<TXenApp>();
  app->SetFarm(&prmFarm);
  TXmlNode name = prmData.FindFirst("FName"), location = prmData.FindFirst("InName");
  TXmlNode colour = prmData.FindFirst("WinColor");
  if (!name || !location || !colour || !ReadWindow(prmData, *app)) return nullptr;
  app->SetName(name.Text());
  app->SetDescription(prmData.FindFirst("Description").Text());
  app->SetLocation(location.Text());
  app->m_ColorDepth = IntText(colour);
  app->m_Sound = UpperCase(prmData.FindFirst("SoundType").Text()) == "BASIC";
  app->m_Server = prmServer;
  app->m_IsDesktop = prmData.FindFirst("Settings").Attr("appisdesktop") == "true";
  TXmlNode encryption = prmData.FindFirst("Encryption");
  if (encryption.Attr("minimum") == "true") app->m_Enc = EncryptionLevel(encryption.Text());
  app->SetSeqNo(prmData.FindFirst("SeqNo").Text());
  if (prmDecodeIcons) {
    TXmlNode icon = prmData.FindFirst("Icon");
    if (icon) app->m_Icon = Icon16ToPng(icon.Text());
  }
  return app;
}

// The PNG of a 32-bit "IconData"; empty when it does not make an icon.
std::string Icon32ToPng(const TXmlNode& prmIconData) {
  TBytes pixels;
  if (!prmIconData.TextBase64(pixels) || pixels.size() > kIcon32MaxDataBytes ||
      pixels.size() % kIcon32RowBytes != 0)
    return {};
  return IconToPng(BuildIcon32(pixels.data(), pixels.size()));
}

}  // namespace

std::string Icon16ToPng(const std::string& prmLetters) {
  // Only the icon's own letters are read: the decoding buffer holds exactly its 640 bytes.
  TBytes data;
  const std::string letters = Trim(prmLetters).substr(0, 2 * kIcon16DataBytes);
  if (!DecodeIconLetters(letters, data) || data.size() < kIcon16DataBytes) return {};
  return IconToPng(BuildIcon16(data.data()));
}

void ParseAppData(const TXmlDoc& prmReply, TXenAppFarm& prmFarm, const std::string& prmServer,
                  TAppCatalogue& prmCatalogue, const std::string& prmFarmFolder,
                  bool prmDecodeIcons) {
  for (const TXmlNode& data : prmReply.Root().FindAll("AppData")) {
    std::unique_ptr<TXenApp> app = ReadApp(data, prmFarm, prmServer, prmDecodeIcons);
    if (!app) continue;
    const std::string path = AppFolderPath(prmFarmFolder, data.FindFirst("Folder").Text());
    app->FileIn(prmCatalogue.GetRootFolder().FileUnder(path, prmCatalogue.FolderCount()));
    TXenApp* listed = app.get();
    // The farm lists only what the catalogue kept: a refused duplicate is destroyed.
    if (prmCatalogue.AddApp(std::move(app)))
      prmFarm.GetApps().emplace_back(listed->GetSeqNo(), listed);
  }
}

void ParseAppIcons(const TXmlDoc& prmReply, TXenAppFarm& prmFarm) {
  for (const TXmlNode& data : prmReply.Root().FindAll("AppData")) {
    TXmlNode seqNo = data.FindFirst("SeqNo");
    if (!seqNo) continue;
    TXenApp* app = nullptr;
    for (auto& [key, listed] : prmFarm.GetApps())
      if (SameText(key, seqNo.Text())) {
        app = listed;
        break;
      }
    if (app == nullptr) continue;
    std::string png;
    bool found32 = false;
    for (const TXmlNode& iconData : data.FindAll("IconData"))
      if (iconData.AttrInt("bpp", 0) == 32 && iconData.AttrInt("size", 0) == 32) {
        found32 = true;
        png = Icon32ToPng(iconData);
        break;
      }
    if (!found32) {
      TXmlNode icon = data.FindFirst("Icon");
      if (icon) png = Icon16ToPng(icon.Text());
    }
    if (!png.empty()) app->m_Icon = std::move(png);
  }
}

}  // namespace vantrel
