#include "catalogue/AppCatalogue.h"

#include "catalogue/ParamList.h"
#include "diag/DebugLog.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

std::string LowerID(const std::string& prmID) {
  std::string out = prmID;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

void TAppCatalogue::Load(const TXmlNode& prmRoot) {
  TXmlNode apps = prmRoot.FindFirst("Apps");
  for (const TXmlNode& node : apps.FindAll("App")) {
    auto app = std::make_unique<TTSApp>(node, m_RootFolder, m_FolderCount);
    const std::string id = app->GetID();
    if (!AddApp(std::move(app))) WriteDebugLog("LoadApps - duplicate application " + id);
  }
  if (m_FolderCount >= kMaxFolders) WriteDebugLog("LoadApps - folder tree full");
  TXmlNode farms = prmRoot.FindFirst("Farms");
  size_t serverRoom = kMaxReplyListBytes;
  for (const TXmlNode& node : farms.FindAll("Farm"))
    m_Farms.push_back(std::make_unique<TXenAppFarm>(node, &serverRoom));
  if (serverRoom == 0) WriteDebugLog("LoadApps - farm servers cut short: too many");
}

bool TAppCatalogue::AddApp(std::unique_ptr<TApp> prmApp) {
  auto [it, added] = m_AppIndex.emplace(LowerID(prmApp->GetID()), prmApp.get());
  if (!added) return false;  // prmApp goes here, and with it its place in its folder
  m_Apps.push_back(std::move(prmApp));
  return true;
}

TApp* TAppCatalogue::FindApp(const std::string& prmID) const {
  auto it = m_AppIndex.find(LowerID(prmID));
  return it == m_AppIndex.end() ? nullptr : it->second;
}

}  // namespace vantrel
