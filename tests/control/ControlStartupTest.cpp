// Start-up against the session manager with a fake tunnel and a scripted availability server:
// what the page sees in each mode, the form's state afterwards, and a second start.
#include "ControlTestKit.h"

namespace vantrel::test::control {
namespace {

std::map<std::string, std::string> MorvParams(const char* prmCustomPortal) {
  return {{"platform", "Morv"},
          {"custom_portal", prmCustomPortal},
          {"config_str",
           ConfigStr(
               {{8, "1111111"}, {12, "10"}, {13, "10.1.1.1:8080"}, {15, "1"}, {11, "def.host"}})}};
}

TEST_F(ControlTest, CustomPortalStartReportsByEventsEndingWithReady) {
  Load(MorvParams("1"));
  ASSERT_TRUE(Call("InitTCS").Ok());
  WaitStartup();
  ASSERT_FALSE(m_Sink.Events.empty());
  EXPECT_EQ(m_Sink.Events.front(), "S1/0:");
  EXPECT_EQ(m_Sink.Events.back(), "S6/0:");
  EXPECT_EQ(GetI4("IsConnected"), 1);
  ASSERT_EQ(GetI4("RegDesktopsCount"), 2);
  auto r = Call("GetRegDesktop", {Variant(1)});
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.Outs[0], Variant("Desk B"));
  EXPECT_EQ(r.Outs[2], Variant(0));
  r = Call("GetRegDesktop", {Variant(2)});
  EXPECT_EQ(r.Outs[0], Variant(""));
  EXPECT_EQ(r.Outs[1], Variant(""));
  // The page draws its own list.
  EXPECT_TRUE(m_X->Form().cbHost.Items.empty());
  EXPECT_TRUE(m_X->Form().btConnect.Enabled);

  // A second start is ignored.
  const size_t events = m_Sink.Events.size();
  ASSERT_TRUE(Call("InitTCS").Ok());
  Pump();
  EXPECT_EQ(m_Sink.Events.size(), events);
}

TEST_F(ControlTest, EmbeddedStartFillsTheFormWithoutEvents) {
  Load(MorvParams("0"));
  WaitStartup();
  EXPECT_TRUE(m_Sink.Events.empty());
  const TVantrelTCSForm& f = m_X->Form();
  EXPECT_EQ(f.cbHost.Items, (std::vector<std::string>{"Desk A", "Desk B"}));
  EXPECT_TRUE(f.cbHost.Visible);
  EXPECT_FALSE(f.edHost.Visible);
  EXPECT_TRUE(f.cbHost.PickOnly);  // typed destinations not allowed
  EXPECT_FALSE(f.btConnectAs.Visible);
  EXPECT_TRUE(f.gbRedirection.Visible);
  EXPECT_TRUE(f.cbConnectToConsole.Visible);
  EXPECT_TRUE(f.btConnect.Enabled);
  EXPECT_FALSE(f.lblInfo.Visible);  // status 6 cleared the line
  EXPECT_EQ(f.edHost.Text, "def.host");
  EXPECT_EQ(f.cbSize.ItemIndex, SIZE_FULL_SCREEN);
  EXPECT_TRUE(f.cbSpan.Enabled);
  EXPECT_EQ(m_X->UI().PendingRecords(), 0u);
}

TEST_F(ControlTest, FailedStartStillEndsWithReadyAndLeavesButtonsDisabled) {
  m_Tunnel->Ready = false;
  Load(MorvParams("1"));
  ASSERT_TRUE(Call("InitTCS").Ok());
  WaitStartup();
  EXPECT_EQ(m_Sink.Events, (std::vector<std::string>{"S1/0:", "S2/0:", "E2:", "S6/0:"}));
  EXPECT_EQ(GetI4("IsConnected"), 0);
  EXPECT_EQ(GetI4("RegDesktopsCount"), 0);
  EXPECT_FALSE(m_X->Form().btConnect.Enabled);
}

TEST_F(ControlTest, DesktopMembersFollowTheCurrentDesktop) {
  Load(MorvParams("1"));
  ASSERT_TRUE(Call("InitTCS").Ok());
  WaitStartup();
  EXPECT_EQ(GetBStr("DesktopDesc"), "");
  ASSERT_TRUE(Call("SetCurDesktop", {Variant(5)}).Ok());
  EXPECT_EQ(GetBStr("DesktopDesc"), "");
  ASSERT_TRUE(Call("SetCurDesktop", {Variant(1)}).Ok());
  EXPECT_EQ(GetBStr("DesktopDesc"), "Desk B");
  // No answer: the desktop is not deleted.
  m_Dialogs.PushResult(IDNO);
  EXPECT_EQ(Call("DelCurDesktop").Value, Variant(-1));
  ASSERT_EQ(m_Dialogs.Shown().size(), 1u);
  EXPECT_EQ(m_Dialogs.Shown()[0].Text, "Are you sure you would like to delete this desktop?");
}

TEST_F(ControlTest, CustomSizeLimitsDependOnTheRdpVersion) {
  Load({{"custom_portal", "1"}});
  ASSERT_TRUE(Put("ScreenWidth", Variant(1601)).Ok());
  ASSERT_TRUE(Put("ScreenHeight", Variant(600)).Ok());
  ASSERT_TRUE(Call("StartSession", {Variant("10.0.0.9"), Variant(0)}).Ok());
  Pump();
  EXPECT_EQ(m_Sink.Events, std::vector<std::string>{"E13:"});

  // Version 10 (from the start-up's client check) lifts the limit: the launch goes on.
  ASSERT_TRUE(Call("InitTCS").Ok());
  WaitStartup();
  ASSERT_EQ(m_X->TCSMng().GetRDPMajVer(), 10);
  m_Sink.Events.clear();
  ASSERT_TRUE(Call("StartSession", {Variant("10.0.0.9"), Variant(0)}).Ok());
  Pump();
  for (const auto& e : m_Sink.Events) EXPECT_NE(e, "E13:");
}

TEST_F(ControlTest, CustomSizeThatIsNoNumberIsReported) {
  Load({{"custom_portal", "1"}});
  m_X->Form().cbSize.Select(SIZE_CUSTOM);
  m_X->Form().edWidth.Text = "wide";
  m_X->Connect("10.0.0.9", false, false);
  m_X->Form().edWidth.Text = "800";
  m_X->Form().edHeight.Text = "1201";
  m_X->Connect("10.0.0.9", false, false);
  m_X->Form().edHeight.Text = "";
  m_X->Connect("10.0.0.9", false, false);
  Pump();
  EXPECT_EQ(m_Sink.Events, (std::vector<std::string>{"E12:", "E15:", "E14:"}));
}

}  // namespace
}  // namespace vantrel::test::control
