// The application catalogue as the catalogue reply builds it: filing under folder paths, the
// first of an identity kept, farms, and the bounds a hostile reply meets.
#include <gtest/gtest.h>

#include "catalogue/AppCatalogue.h"
#include "diag/Xml.h"

namespace vantrel::test {
namespace {

// "Name(apps)[children]" for a folder and everything below it.
std::string Tree(const TFolder& prmFolder) {
  std::string out = prmFolder.GetName() + "(";
  for (int i = 0; i < prmFolder.AppCount(); ++i)
    out += (i ? "," : "") + prmFolder.AppName(i) + "=" + prmFolder.AppID(i);
  out += ")";
  if (prmFolder.ChildCount() == 0) return out;
  out += "[";
  for (const auto& c : prmFolder.GetChildren()) out += Tree(*c);
  return out + "]";
}

TEST(AppCatalogue, FilesApplicationsUnderTheirFoldersAndKeepsTheFirstOfAnIdentity) {
  struct TRow {
    std::string Apps;
    std::string Tree;
  } rows[] = {
      // Case-blind folder names share one folder, named as first written.
      {R"(<App Name="W" Folder="Office\Tools">w</App><App Name="R" Folder="office\Reports">r</App>)",
       "()[Office()[Tools(W=w)Reports(R=r)]]"},
      // A leading "\" is a folder with an empty name.
      {R"(<App Name="A" Folder="\Apps">a</App>)", "()[()[Apps(A=a)]]"},
      {R"(<App Name="A">a</App><App Name="B" Folder="">b</App>)", "(A=a,B=b)"},
      // The second of an identity, whatever its case, leaves no trace, not even its folder's app.
      {R"(<App Name="A" Folder="X">id</App><App Name="B" Folder="X">ID</App>)", "()[X(A=id)]"},
      // Apps found at any depth below "Apps", and only there.
      {R"(<Group><App Name="A">a</App></Group>)", "(A=a)"},
  };
  for (const TRow& r : rows) {
    TXmlDoc doc =
        TXmlDoc::Parse("<OQN><App Name='outside'>o</App><Apps>" + r.Apps + "</Apps></OQN>");
    TAppCatalogue cat;
    cat.Load(doc.Root());
    EXPECT_EQ(Tree(cat.GetRootFolder()), r.Tree) << r.Apps;
  }
}

TEST(AppCatalogue, ApplicationFieldsAndDefaults) {
  TXmlDoc doc = TXmlDoc::Parse(
      R"(<OQN><Apps><App Name="Text Editor" Desc="d" Loc="C:\n.exe" Dir="C:\U" Height="600"
      Width="800">np</App><App Height="tall">x</App></Apps></OQN>)");
  TAppCatalogue cat;
  cat.Load(doc.Root());
  auto* np = dynamic_cast<TTSApp*>(cat.FindApp("NP"));
  ASSERT_NE(np, nullptr);
  EXPECT_EQ(np->GetName(), "Text Editor");
  EXPECT_EQ(np->GetDescription(), "d");
  EXPECT_EQ(np->GetLocation(), "C:\\n.exe");
  EXPECT_EQ(np->GetWorkDir(), "C:\\U");
  EXPECT_EQ(np->GetHeight(), 600);
  EXPECT_EQ(np->GetWidth(), 800);
  EXPECT_EQ(np->GetSvrHost(), "");
  TApp* x = cat.FindApp("x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->GetHeight(), 480);
  EXPECT_EQ(x->GetWidth(), 640);
  EXPECT_EQ(cat.FindApp("nothing"), nullptr);
}

TEST(AppCatalogue, FarmsNumbersServersAndApplicationIdentities) {
  struct TRow {
    const char* Farm;
    int ID;
    std::vector<std::string> Servers;
  } rows[] = {
      {R"(<Farm FarmName="F" Folder="Citrix" Servers="a,b,">2</Farm>)", 2, {"a", "b"}},
      {R"(<Farm Servers="a,b">2</Farm>)", 2, {"a"}},  // the last character goes; no empty name
      {R"(<Farm Servers=",a,,b,">2</Farm>)", 2, {"a", "b"}},
      {R"(<Farm Servers="">x</Farm>)", -1, {}},
      {R"(<Farm>two</Farm>)", -1, {}},
  };
  for (const TRow& r : rows) {
    TXmlDoc doc = TXmlDoc::Parse(std::string("<OQN><Farms><F>") + r.Farm + "</F></Farms></OQN>");
    TAppCatalogue cat;
    cat.Load(doc.Root());
    ASSERT_EQ(cat.GetFarms().size(), 1u) << r.Farm;
    TXenAppFarm& farm = *cat.GetFarms()[0];
    EXPECT_EQ(farm.GetID(), r.ID) << r.Farm;
    EXPECT_EQ(farm.GetServers(), r.Servers) << r.Farm;
    TXenApp app;
    app.SetFarm(&farm);
    app.SetSeqNo("Word");
    EXPECT_EQ(app.GetID(), "c" + std::to_string(r.ID) + "Word");
  }
  TXmlDoc farmDoc = TXmlDoc::Parse(R"(<Farm FarmName="F" Folder="Citrix">1</Farm>)");
  TXenAppFarm farm(farmDoc.Root());
  EXPECT_EQ(farm.GetName(), "F");
  EXPECT_EQ(farm.GetFolder(), "Citrix");
  EXPECT_FALSE(farm.HasCreds());
  farm.SetCreds("u", "p", "d");
  std::string u, p, d;
  farm.GetCreds(u, p, d);
  EXPECT_TRUE(farm.HasCreds());
  EXPECT_EQ(u + p + d, "upd");
}

TEST(AppCatalogue, HostileRepliesStayBounded) {
  std::string apps;
  for (int i = 0; i < 3000; ++i)
    apps +=
        "<App Name='n' Folder='F" + std::to_string(i % 700) + "'>a" + std::to_string(i) + "</App>";
  apps += "<App Folder='" + std::string(5000, '\\') + "'>deep</App>";
  std::string nested;
  for (int i = 0; i < 300; ++i) nested += "L" + std::to_string(i) + "\\";
  apps += "<App Folder='" + nested + "'>nested</App>";
  TXmlDoc doc = TXmlDoc::Parse("<OQN><Apps>" + apps + "</Apps></OQN>");
  TAppCatalogue cat;
  cat.Load(doc.Root());
  EXPECT_EQ(cat.AppCount(), 3002u);
  EXPECT_EQ(cat.GetRootFolder().ChildCount(), 700 + 2);
  EXPECT_LE(cat.FolderCount(), kMaxFolders);
  // The path of backslashes stops at the depth bound; the nested one, within it, is whole.
  int depth = 0;
  for (const TFolder* f = cat.FindApp("deep")->GetFolder(); f->GetParentFolder() != nullptr;
       f = f->GetParentFolder())
    ++depth;
  EXPECT_EQ(depth, kMaxFolderDepth);
  EXPECT_EQ(cat.FindApp("nested")->GetFolder()->GetName(), "");
  EXPECT_EQ(cat.FindApp("nested")->GetFolder()->GetParentFolder()->GetName(), "L299");
}

}  // namespace
}  // namespace vantrel::test
