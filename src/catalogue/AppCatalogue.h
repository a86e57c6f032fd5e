// The user's published applications as the catalogue reply lists them: the folder tree under its
// root, the applications keyed by identity (the first of an identity is kept) and the XenApp
// farms. Filled once on the connect thread, then read on the window thread.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/AppTree.h"
#include "catalogue/XenAppFarm.h"

namespace vantrel {

class TXmlNode;

class TAppCatalogue {
 public:
  TAppCatalogue() = default;
  TAppCatalogue(const TAppCatalogue&) = delete;
  TAppCatalogue& operator=(const TAppCatalogue&) = delete;

  // Every "App" below the reply's first "Apps" and every "Farm" below its first "Farms", in
  // document order.
  void Load(const TXmlNode& prmRoot);

  // Lists prmApp under its identity; false (and prmApp destroyed, so out of its folder) when an
  // application of that identity, compared without regard to case, is already listed.
  bool AddApp(std::unique_ptr<TApp> prmApp);
  // The application of that identity (without regard to case); nullptr when there is none.
  TApp* FindApp(const std::string& prmID) const;
  size_t AppCount() const { return m_Apps.size(); }

  TFolder& GetRootFolder() { return m_RootFolder; }
  const TFolder& GetRootFolder() const { return m_RootFolder; }
  // The folder count that bounds the tree (the root not counted).
  int& FolderCount() { return m_FolderCount; }
  const std::vector<std::unique_ptr<TXenAppFarm>>& GetFarms() const { return m_Farms; }

 private:
  // Declared first, so freed last: applications leave their folders as they go.
  TFolder m_RootFolder{"", nullptr};
  int m_FolderCount = 0;
  std::vector<std::unique_ptr<TXenAppFarm>> m_Farms;
  std::vector<std::unique_ptr<TApp>> m_Apps;
  std::unordered_map<std::string, TApp*> m_AppIndex;  // lower-case identity -> application
};

}  // namespace vantrel
