#include <gtest/gtest.h>

#include <string>

#include "catalogue/AppCatalogue.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/AppData.h"
#include "diag/Xml.h"

namespace vantrel::test {
namespace {

std::string AppData(const std::string& prmSeqNo, const std::string& prmExtra,
                    const std::string& prmWindow = "<WinType>fullscreen</WinType>") {
  return "<AppData><InName>" + prmSeqNo + " loc</InName><FName>" + prmSeqNo + " name</FName>" +
         "<SeqNo>" + prmSeqNo + "</SeqNo><WinColor>8</WinColor>" + prmWindow + prmExtra +
         "</AppData>";
}

TXmlDoc Reply(const std::string& prmApps) {
  return TXmlDoc::Parse("<NFuseProtocol><ResponseAppData>" + prmApps +
                        "</ResponseAppData></NFuseProtocol>");
}

class CitrixAppData : public ::testing::Test {
 protected:
  TXenAppFarm& Farm(const std::string& prmFolder) {
    m_FarmDoc = TXmlDoc::Parse("<Farm FarmName=\"F\" Folder=\"" + prmFolder + "\">2</Farm>");
    m_Farm = std::make_unique<TXenAppFarm>(m_FarmDoc.Root());
    return *m_Farm;
  }
  TXenApp* App(const std::string& prmID) {
    return dynamic_cast<TXenApp*>(Catalogue.FindApp(prmID));
  }
  std::string FolderPath(const std::string& prmID) {
    std::string path;
    for (TFolder* f = App(prmID)->GetFolder(); f != nullptr && f->GetParentFolder() != nullptr;
         f = f->GetParentFolder())
      path = f->GetName() + (path.empty() ? "" : "\\" + path);
    return path;
  }

  TAppCatalogue Catalogue;

 private:
  TXmlDoc m_FarmDoc;
  std::unique_ptr<TXenAppFarm> m_Farm;
};

TEST_F(CitrixAppData, FieldsOfACompleteAndOfAMinimalApplication) {
  TXenAppFarm& farm = Farm("Apps");
  ParseAppData(Reply(AppData("Word",
                             "<Description>Edit</Description><SoundType>basic</SoundType>"
                             "<Settings appisdesktop=\"true\"/><Encryption minimum=\"true\">"
                             "rc5-128</Encryption><Folder>Office</Folder>",
                             "<WinType>pixels</WinType><WinHeight>600</WinHeight>"
                             "<WinWidth>x</WinWidth>") +
                     AppData("Calc", "")),
               farm, "xa:8080", Catalogue, farm.GetFolder(), false);
  ASSERT_EQ(farm.GetApps().size(), 2u);
  EXPECT_EQ(farm.GetApps()[0].first, "Word");
  TXenApp* word = App("c2Word");
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(word->GetName(), "Word name");
  EXPECT_EQ(word->GetLocation(), "Word loc");
  EXPECT_EQ(word->GetDescription(), "Edit");
  EXPECT_EQ(word->m_WinType, 3);
  EXPECT_EQ(word->GetHeight(), 600);
  EXPECT_EQ(word->GetWidth(), 0);  // not an integer
  EXPECT_EQ(word->m_ColorDepth, 8);
  EXPECT_TRUE(word->m_Sound);
  EXPECT_EQ(word->m_Server, "xa:8080");
  EXPECT_TRUE(word->m_IsDesktop);
  EXPECT_EQ(word->m_Enc, "EncRC5-128");
  EXPECT_EQ(FolderPath("c2Word"), "Apps\\Office");

  TXenApp* calc = App("c2Calc");
  ASSERT_NE(calc, nullptr);
  EXPECT_EQ(calc->GetDescription(), "");
  EXPECT_EQ(calc->m_WinType, 1);
  EXPECT_FALSE(calc->m_Sound);
  EXPECT_FALSE(calc->m_IsDesktop);
  EXPECT_EQ(calc->m_Enc, "");
  EXPECT_EQ(calc->m_Icon, "");
  EXPECT_EQ(FolderPath("c2Calc"), "Apps");
}

TEST_F(CitrixAppData, WindowTypesAndMissingRequiredElements) {
  TXenAppFarm& farm = Farm("");
  const std::string apps =
      AppData("Pct", "", "<WinType>percent</WinType><WinScale>75</WinScale>") +
      AppData("Big", "", "<WinType>Pixels</WinType>") +  // not "pixels": no size read
      AppData("Odd", "", "<WinType>seamless</WinType>") +
      AppData("NoScale", "", "<WinType>percent</WinType>") +
      AppData("NoWidth", "", "<WinType>pixels</WinType><WinHeight>1</WinHeight>") +
      AppData("NoType", "", "") + "<AppData><FName>x</FName></AppData>" +
      AppData("Enc", "<Encryption minimum=\"false\">basic</Encryption>");
  ParseAppData(Reply(apps), farm, "s", Catalogue, farm.GetFolder(), false);
  EXPECT_EQ(Catalogue.AppCount(), 4u);
  EXPECT_EQ(App("c2Pct")->m_WinType, 2);
  EXPECT_EQ(App("c2Pct")->m_WinPercent, 75);
  EXPECT_EQ(App("c2Big")->m_WinType, 3);
  EXPECT_EQ(App("c2Big")->GetHeight(), 640);
  EXPECT_EQ(App("c2Odd")->m_WinType, 3);
  EXPECT_EQ(App("c2Enc")->m_Enc, "");
  for (const char* dropped : {"c2NoScale", "c2NoWidth", "c2NoType"})
    EXPECT_EQ(App(dropped), nullptr) << dropped;
  EXPECT_EQ(farm.GetApps().size(), 4u);
}

TEST_F(CitrixAppData, FolderPaths) {
  struct Case {
    std::string FarmFolder, Folder, Path;
  };
  const Case cases[] = {{"Apps", "<Folder>Office</Folder>", "Apps\\Office"},
                        {"", "<Folder>Office\\</Folder>", "Office"},
                        {"Apps", "", "Apps"},
                        {"", "", ""}};
  int n = 0;
  for (const Case& c : cases) {
    TXenAppFarm& farm = Farm(c.FarmFolder);
    const std::string seq = "A" + std::to_string(n++);
    ParseAppData(Reply(AppData(seq, c.Folder)), farm, "s", Catalogue, farm.GetFolder(), false);
    ASSERT_NE(App("c2" + seq), nullptr);
    EXPECT_EQ(FolderPath("c2" + seq), c.Path) << c.FarmFolder << " " << c.Folder;
  }
}

TEST_F(CitrixAppData, DuplicatesStayOutOfTheFarm) {
  TXenAppFarm& farm = Farm("");
  ParseAppData(Reply(AppData("Word", "") + AppData("WORD", "")), farm, "s", Catalogue, "", false);
  EXPECT_EQ(Catalogue.AppCount(), 1u);
  ASSERT_EQ(farm.GetApps().size(), 1u);
  EXPECT_EQ(farm.GetApps()[0].second, App("c2Word"));
}

TEST_F(CitrixAppData, IconsFromTheListAndFromTheIconReply) {
  const std::string icon16 = "<Icon>" + std::string(1280, 'A') + "</Icon>";
  TXenAppFarm& farm = Farm("");
  ParseAppData(Reply(AppData("Word", icon16) + AppData("Calc", "<Icon>AB</Icon>")), farm, "s",
               Catalogue, "", true);
  EXPECT_EQ(App("c2Word")->m_Icon.substr(1, 3), "PNG");
  EXPECT_EQ(App("c2Calc")->m_Icon, "");
  ParseAppData(Reply(AppData("Paint", icon16)), farm, "s", Catalogue, "", false);
  EXPECT_EQ(App("c2Paint")->m_Icon, "");

  const std::string pixels32 =
      "<IconData bpp=\"32\" size=\"32\">" + std::string(5460, 'Q') + "QQ==</IconData>";
  const std::string word = App("c2Word")->m_Icon;
  ParseAppIcons(
      Reply("<AppData><SeqNo>word</SeqNo><IconData bpp=\"32\" size=\"16\">AAAA</IconData>" +
            pixels32 + "</AppData>" +
            // A 32-bit icon that does not decode keeps the old icon; none falls back to "Icon".
            "<AppData><SeqNo>Calc</SeqNo><IconData bpp=\"32\" size=\"32\">!!</IconData>" + icon16 +
            "</AppData><AppData><SeqNo>Paint</SeqNo>" + icon16 +
            "</AppData><AppData><SeqNo>Nobody</SeqNo>" + icon16 + "</AppData>"),
      farm);
  EXPECT_EQ(App("c2Word")->m_Icon.substr(1, 3), "PNG");
  EXPECT_NE(App("c2Word")->m_Icon, word);
  EXPECT_EQ(App("c2Calc")->m_Icon, "");
  EXPECT_EQ(App("c2Paint")->m_Icon, word);
}

}  // namespace
}  // namespace vantrel::test
