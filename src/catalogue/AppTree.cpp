#include "catalogue/AppTree.h"

#include <algorithm>

#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

std::string LowerAscii(std::string_view prmText) {
  std::string out(prmText);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

TFolder::TFolder(std::string prmName, TFolder* prmParent)
    : m_Name(std::move(prmName)), m_Parent(prmParent) {}

TFolder* TFolder::GetChild(std::string_view prmName) const {
  auto it = m_ChildIndex.find(LowerAscii(prmName));
  return it == m_ChildIndex.end() ? nullptr : it->second;
}

TFolder* TFolder::AddChild(const std::string& prmName) {
  m_Children.push_back(std::make_unique<TFolder>(prmName, this));
  TFolder* child = m_Children.back().get();
  m_ChildIndex.emplace(LowerAscii(prmName), child);
  return child;
}

void TFolder::RemoveApp(const TApp* prmApp) {
  // From the back: a refused duplicate leaves right after it was listed.
  auto it = std::find(m_Apps.rbegin(), m_Apps.rend(), prmApp);
  if (it != m_Apps.rend()) m_Apps.erase(std::next(it).base());
}

int TFolder::Depth() const {
  int depth = 0;
  for (const TFolder* f = m_Parent; f != nullptr; f = f->m_Parent) ++depth;
  return depth;
}

TFolder* TFolder::FileUnder(std::string_view prmPath, int& prmFolderCount) {
  TFolder* folder = this;
  if (prmPath.empty()) return folder;
  int depth = Depth();
  for (;;) {
    size_t sep = prmPath.find('\\');
    std::string_view part = prmPath.substr(0, sep);
    TFolder* next = folder->GetChild(part);
    if (next == nullptr) {
      if (depth >= kMaxFolderDepth || prmFolderCount >= kMaxFolders) return folder;
      next = folder->AddChild(std::string(part));
      ++prmFolderCount;
    }
    folder = next;
    ++depth;
    if (sep == std::string_view::npos) return folder;
    prmPath.remove_prefix(sep + 1);
  }
}

const IAppFolder* TFolder::Child(int prmIndex) const {
  return prmIndex >= 0 && prmIndex < ChildCount() ? m_Children[prmIndex].get() : nullptr;
}

std::string TFolder::AppName(int prmIndex) const {
  return prmIndex >= 0 && prmIndex < AppCount() ? m_Apps[prmIndex]->GetName() : std::string();
}

std::string TFolder::AppID(int prmIndex) const {
  return prmIndex >= 0 && prmIndex < AppCount() ? m_Apps[prmIndex]->GetID() : std::string();
}

TApp::~TApp() {
  if (m_Folder != nullptr) m_Folder->RemoveApp(this);
}

void TApp::FileIn(TFolder* prmFolder) {
  m_Folder = prmFolder;
  if (m_Folder != nullptr) m_Folder->AddApp(this);
}

TTSApp::TTSApp(const TXmlNode& prmNode, TFolder& prmRootFolder, int& prmFolderCount) {
  m_ID = prmNode.Text();
  m_Name = prmNode.Attr("Name");
  m_Description = prmNode.Attr("Desc");
  m_Location = prmNode.Attr("Loc");
  m_WorkDir = prmNode.Attr("Dir");
  m_Height = prmNode.AttrInt("Height", 480);
  m_Width = prmNode.AttrInt("Width", 640);
  FileIn(prmRootFolder.FileUnder(prmNode.Attr("Folder"), prmFolderCount));
}

}  // namespace vantrel
