// The published applications and the folders they are filed in. A folder owns its sub-folders;
// applications are owned by the catalogue's application list and only listed by their folder,
// which they leave when they are destroyed. Built on the connect thread while the catalogue is
// read, then only read (window thread).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/AppFolder.h"

namespace vantrel {

class TApp;
class TXmlNode;

// How far a folder path may reach: deeper parts, and folders beyond the count, file the
// application in the deepest folder reached, so a hostile path cannot grow the tree without end.
constexpr int kMaxFolderDepth = 512;
constexpr int kMaxFolders = 50000;

class TFolder final : public IAppFolder {
 public:
  TFolder(std::string prmName, TFolder* prmParent);
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;

  // The sub-folder of that name, compared without regard to case; nullptr when there is none.
  TFolder* GetChild(std::string_view prmName) const;
  // Appends a new sub-folder (names are not checked for duplicates here).
  TFolder* AddChild(const std::string& prmName);
  void AddApp(TApp* prmApp) { m_Apps.push_back(prmApp); }
  void RemoveApp(const TApp* prmApp);
  TFolder* GetParentFolder() const { return m_Parent; }
  const std::vector<TApp*>& GetApps() const { return m_Apps; }
  const std::vector<std::unique_ptr<TFolder>>& GetChildren() const { return m_Children; }

  // Files under the "\"-separated path below this folder: each part names the sub-folder taken
  // (without regard to case) or appended; an empty part names a folder with an empty name, an
  // empty path is this folder. Returns the last folder. prmFolderCount counts the folders of the
  // whole tree and is raised for each one made.
  TFolder* FileUnder(std::string_view prmPath, int& prmFolderCount);

  // --- IAppFolder ---
  std::string GetName() const override { return m_Name; }
  const IAppFolder* GetParent() const override { return m_Parent; }
  int ChildCount() const override { return static_cast<int>(m_Children.size()); }
  const IAppFolder* Child(int prmIndex) const override;
  int AppCount() const override { return static_cast<int>(m_Apps.size()); }
  std::string AppName(int prmIndex) const override;
  std::string AppID(int prmIndex) const override;

 private:
  int Depth() const;

  std::string m_Name;
  TFolder* m_Parent;
  std::vector<std::unique_ptr<TFolder>> m_Children;
  // Lower-case name -> first child of that name, so thousands of siblings stay cheap to find.
  std::unordered_map<std::string, TFolder*> m_ChildIndex;
  std::vector<TApp*> m_Apps;
};

// An application of the catalogue. Destroying one takes it out of its folder's list.
class TApp {
 public:
  TApp(const TApp&) = delete;
  TApp& operator=(const TApp&) = delete;
  virtual ~TApp();

  virtual std::string GetName() const { return m_Name; }
  virtual std::string GetID() const = 0;

  TFolder* GetFolder() const { return m_Folder; }
  const std::string& GetDescription() const { return m_Description; }
  const std::string& GetLocation() const { return m_Location; }
  int GetHeight() const { return m_Height; }
  int GetWidth() const { return m_Width; }
  // Lists the application in prmFolder (and remembers it for the removal).
  void FileIn(TFolder* prmFolder);

 protected:
  TApp() = default;

  TFolder* m_Folder = nullptr;
  std::string m_Name;
  std::string m_Description;
  std::string m_Location;
  int m_Height = 640;
  int m_Width = 480;
};

// A terminal-services application, started in the RDP client as a remote application.
class TTSApp final : public TApp {
 public:
  // From an "App" element, filed under its "Folder" path below prmRootFolder.
  TTSApp(const TXmlNode& prmNode, TFolder& prmRootFolder, int& prmFolderCount);

  std::string GetID() const override { return m_ID; }
  const std::string& GetSvrHost() const { return m_svrHost; }
  void SetSvrHost(const std::string& prmHost) { m_svrHost = prmHost; }
  const std::string& GetWorkDir() const { return m_WorkDir; }

 private:
  std::string m_ID;
  std::string m_svrHost;
  std::string m_WorkDir;
};

}  // namespace vantrel
