// The dispatch members on a control that has not started: settings kept in the form, the
// store's permissions, the folder members without a folder, and bad calls that leave the control
// usable.
#include "ControlTestKit.h"

namespace vantrel::test::control {
namespace {

class TRdpObject : public IUnknownObject {};

class TFolder : public IAppFolder {
 public:
  TFolder(std::string prmName, const TFolder* prmParent)
      : m_Name(std::move(prmName)), m_Parent(prmParent) {}
  std::string GetName() const override { return m_Name; }
  const IAppFolder* GetParent() const override { return m_Parent; }
  int ChildCount() const override { return static_cast<int>(Children.size()); }
  const IAppFolder* Child(int i) const override { return Children[i]; }
  int AppCount() const override { return static_cast<int>(Apps.size()); }
  std::string AppName(int i) const override { return Apps[i]; }
  std::string AppID(int i) const override { return "id-" + Apps[i]; }
  std::vector<const TFolder*> Children;
  std::vector<std::string> Apps;

 private:
  std::string m_Name;
  const TFolder* m_Parent;
};

TEST_F(ControlTest, ScreenSizeSelectsFullScreenOrCustom) {
  ASSERT_TRUE(Put("ScreenWidth", Variant(-1)).Ok());
  EXPECT_EQ(m_X->Form().cbSize.Text, "Full Screen");
  ASSERT_TRUE(Put("ScreenWidth", Variant(0)).Ok());
  EXPECT_EQ(m_X->Form().cbSize.Text, "Custom");
  EXPECT_EQ(GetI4("ScreenWidth"), 0);
  m_X->Form().edHeight.Text = "tall";
  EXPECT_EQ(GetI4("ScreenHeight"), -1);
}

TEST_F(ControlTest, ListIndicesOutsideTheirListsAreIgnored) {
  ASSERT_TRUE(Put("ColorDepth", Variant(3)).Ok());
  for (int bad : {5, -1}) {
    ASSERT_TRUE(Put("ColorDepth", Variant(bad)).Ok());
    EXPECT_EQ(GetI4("ColorDepth"), 3);
  }
  EXPECT_EQ(GetI4("SoundRedir"), 0);
  ASSERT_TRUE(Put("SoundRedir", Variant(3)).Ok());
  EXPECT_EQ(GetI4("SoundRedir"), 0);
  ASSERT_TRUE(Put("SoundRedir", Variant(2)).Ok());
  EXPECT_EQ(GetI4("SoundRedir"), 2);
}

TEST_F(ControlTest, RedirectionChangesNeedTheStoresPermission) {
  ASSERT_TRUE(Put("RedirDrives", Variant(1)).Ok());
  EXPECT_EQ(GetI4("RedirDrives"), 0);
  EXPECT_EQ(m_X->TCSMng().GetDPP().GetFlag(TDPP::FLAG_REDIR_DRIVES), -1);
  m_X->Form().cbDrv.Checked = true;  // the user ticked it
  EXPECT_EQ(GetI4("RedirDrives"), 1);

  Load({{"custom_portal", "1"}, {"config_str", ConfigStr({{8, "1000000"}})}});
  EXPECT_EQ(GetI4("AllowRedirControl"), 1);
  ASSERT_TRUE(Put("RedirPOSDev", Variant(1)).Ok());
  ASSERT_TRUE(Put("RedirDrives", Variant(2)).Ok());  // only 1 is true
  EXPECT_EQ(GetI4("RedirPOSDev"), 1);
  EXPECT_EQ(GetI4("RedirDrives"), 0);
  EXPECT_EQ(m_X->TCSMng().GetDPP().GetFlag(TDPP::FLAG_REDIR_POS), 1);
  EXPECT_EQ(m_X->TCSMng().GetDPP().GetFlag(TDPP::FLAG_REDIR_DRIVES), 0);
}

TEST_F(ControlTest, ConsoleAndSpanSwitches) {
  ASSERT_TRUE(Put("ConnectToConsole", Variant(1)).Ok());
  EXPECT_EQ(GetI4("ConnectToConsole"), 0);
  ASSERT_TRUE(Put("SpanMonitors", Variant(7)).Ok());
  EXPECT_EQ(GetI4("SpanMonitors"), 1);
  ASSERT_TRUE(Put("EnableTheme", Variant(7)).Ok());
  EXPECT_EQ(GetI4("EnableTheme"), 0);
  Load({{"custom_portal", "1"}, {"config_str", ConfigStr({{15, "1"}, {12, "11"}})}});
  ASSERT_TRUE(Put("ConnectToConsole", Variant(1)).Ok());
  EXPECT_EQ(GetI4("ConnectToConsole"), 1);
  EXPECT_EQ(GetI4("AllowNonRegDesktops"), 1);
  ASSERT_TRUE(Call("DisableAllowNonRegDesktops").Ok());
  EXPECT_EQ(GetI4("AllowNonRegDesktops"), 0);
}

TEST_F(ControlTest, NoDesktopsAndNoFolderBeforeStartUp) {
  EXPECT_EQ(GetI4("RegDesktopsCount"), 0);
  EXPECT_EQ(GetI4("DesktopTTL"), 0);
  EXPECT_EQ(GetI4("DesktopState"), 0);
  EXPECT_EQ(Call("DelCurDesktop").Value, Variant(-1));
  EXPECT_TRUE(m_Dialogs.Shown().empty());
  ASSERT_TRUE(Call("WakeupDesktop").Ok());
  ASSERT_TRUE(Call("RefreshDesktopState").Ok());
  ASSERT_TRUE(Call("LaunchDesktop", {Variant(0), Variant(1)}).Ok());
  EXPECT_EQ(GetI4("AppsCount"), 0);
  EXPECT_EQ(GetI4("SubFoldersCount"), 0);
  EXPECT_EQ(GetBStr("CurFolder"), "");
  EXPECT_EQ(GetI4("HasParentFolder"), 0);
  ASSERT_TRUE(Call("SetCurApp", {Variant(-1)}).Ok());
  EXPECT_EQ(GetBStr("CurAppIconURL"), "");
  ASSERT_TRUE(Call("SetCurFolder", {Variant(0)}).Ok());
  ASSERT_TRUE(Call("PopCurFolder").Ok());
  ASSERT_TRUE(Call("LaunchCurApp").Ok());
}

TEST_F(ControlTest, FolderNavigation) {
  TFolder root("Root", nullptr), office("Office", &root), tools("Tools", &root);
  root.Children = {&office, &tools};
  office.Apps = {"Word", "Calc"};
  m_X->SetRootFolder(&root);
  Load({{"custom_portal", "1"}, {"config_str", ConfigStr({})}});
  ASSERT_TRUE(Call("InitTCS").Ok());
  WaitStartup();
  EXPECT_EQ(GetBStr("CurFolder"), "Root");
  EXPECT_EQ(GetI4("SubFoldersCount"), 2);
  ASSERT_TRUE(Call("SetCurSubFolder", {Variant(2)}).Ok());
  EXPECT_EQ(GetBStr("CurSubFolder"), "");
  ASSERT_TRUE(Call("SetCurSubFolder", {Variant(1)}).Ok());
  EXPECT_EQ(GetBStr("CurSubFolder"), "Tools");
  ASSERT_TRUE(Call("SetCurFolder", {Variant(0)}).Ok());
  EXPECT_EQ(GetBStr("CurFolder"), "Office");
  EXPECT_EQ(GetBStr("CurSubFolder"), "");
  EXPECT_EQ(GetI4("HasParentFolder"), 1);
  ASSERT_TRUE(Call("SetCurApp", {Variant(1)}).Ok());
  EXPECT_EQ(GetBStr("CurAppName"), "Calc");
  EXPECT_EQ(GetBStr("CurAppIconURL"), "/prx/000/http/localhost:9090/query/appicon?_appid=id-Calc");
  ASSERT_TRUE(Call("SetCurApp", {Variant(2)}).Ok());
  EXPECT_EQ(GetI4("CurAppID"), 2);
  EXPECT_EQ(GetBStr("CurAppName"), "");
  ASSERT_TRUE(Call("PopCurFolder").Ok());
  EXPECT_EQ(GetBStr("CurFolder"), "Root");
  ASSERT_TRUE(Call("PopCurFolder").Ok());
  EXPECT_EQ(GetBStr("CurFolder"), "Root");
  // The application's deactivation forgets the current application.
  m_X->OnAppDeactivate();
  EXPECT_EQ(GetI4("CurAppID"), -1);
}

TEST_F(ControlTest, BadCallsFailClearlyAndTheControlStaysUsable) {
  auto r = Call("NoSuchMember");
  EXPECT_EQ(r.Result, DISP_E_UNKNOWNNAME);
  r = Call("SetCurDesktop", {Variant("1")});
  EXPECT_EQ(r.Result, DISP_E_TYPEMISMATCH);
  r = Call("StartSession", {Variant("host")});
  EXPECT_EQ(r.Result, DISP_E_BADPARAMCOUNT);
  r = Put("RDPClient", Variant(std::make_shared<TRdpObject>()));
  EXPECT_EQ(r.Result, E_FAIL);
  EXPECT_EQ(r.Error, "The object is not an RDP client control");
  r = Put("Active", Variant(-1));
  EXPECT_EQ(r.Result, DISP_E_MEMBERNOTFOUND);
  EXPECT_TRUE(Put("Host", Variant("typed.host")).Ok());
  EXPECT_EQ(GetBStr("Host"), "typed.host");
  EXPECT_EQ(m_X->Form().edHost.Text, "typed.host");
}

TEST_F(ControlTest, VersionStandardMembersAndRdpVersion) {
  auto r = Call("VersionNum");
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Outs[0], Variant("4.0.0.31"));
  EXPECT_EQ(m_X->Dispatch().GetIDOfName("versionnum"), 1610612791);
  EXPECT_EQ(GetBStr("Caption"), "VantrelTCSX");
  EXPECT_TRUE(Put("Caption", Variant("Page")).Ok());
  EXPECT_EQ(GetBStr("Caption"), "Page");
  EXPECT_EQ(GetI4("ExplicitWidth"), 385);
  EXPECT_TRUE(m_X->Invoke("Font", TDispKind::PropertyPutRef, {Variant()}).Ok());
  EXPECT_EQ(m_X->Dispatch().Invoke(-514, TDispKind::PropertyGet, {}).Value, Variant(-1));
  m_X->SetRdpClientProbe(std::make_unique<mng::TFixedRdpClient>(false, "10.0.1"));
  EXPECT_EQ(GetBStr("RDPVersion"), "");
  m_X->SetRdpClientProbe(std::make_unique<mng::TFixedRdpClient>(true, "10.0.1"));
  EXPECT_EQ(GetBStr("RDPVersion"), "10.0.1");
}

}  // namespace
}  // namespace vantrel::test::control
