// The report messages as the window thread handles them: events in custom-portal mode, the
// embedded form and its dialogs otherwise; every record freed either way.
#include "ControlTestKit.h"

namespace vantrel::test::control {
namespace {

TEST_F(ControlTest, CustomPortalEventsCarryTheReportsInOrder) {
  Load({{"custom_portal", "1"}});
  TTCSUserInterface& ui = m_X->UI();
  ui.UpdateTCSStatus(TCS_STATUS_DOWNLOAD, 40, "");
  ui.UpdateDownloadStatus(TCS_STATUS_DOWNLOAD, 41, "", 41, 100);  // the page sees no bytes
  ui.UpdateTCSStatus(TCS_STATUS_NONE, 0, "ignored");
  ui.ReportError(TCS_ERR_CLIENT_VERIFICATION, "");
  ui.ReportError(TCS_ERR_ACCESS_DENIED, "why");
  ui.UpdateHostStatus(1, 3);
  ui.IdleTimeoutAlert(59);
  ui.LifetimeTimeoutalert(-1);
  Pump();
  EXPECT_EQ(m_Sink.Events, (std::vector<std::string>{"S5/40:", "S5/41:", "E19:", "E26:why", "H1=3",
                                                     "A1:59", "A2:-1"}));
  EXPECT_TRUE(m_Dialogs.Shown().empty());
}

TEST_F(ControlTest, RecordsAreFreedWithoutASinkAndForgedOnesIgnored) {
  Load({{"custom_portal", "1"}});
  m_X->Advise(nullptr);
  m_X->UI().UpdateTCSStatus(TCS_STATUS_CONNECTING, 0, "x");
  m_X->UI().ReportError(TCS_ERR_HOST_EMPTY, "");
  m_X->Window().Post(WM_TCSStateNotify, TCS_STATUS_READY, 12345);
  m_X->Window().Post(WM_ReportError, 0, 0);
  Pump();
  EXPECT_EQ(m_X->UI().PendingRecords(), 0u);
  EXPECT_TRUE(m_Sink.Events.empty());
}

TEST_F(ControlTest, EmbeddedStatusLine) {
  Load({{"custom_portal", "0"}, {"config_str", ConfigStr({})}});
  WaitStartup();
  const TVantrelTCSForm& f = m_X->Form();
  TTCSUserInterface& ui = m_X->UI();
  const std::vector<std::tuple<int, int, std::string, std::string>> cases = {
      {TCS_STATUS_DOWNLOAD, 0, "Downloading RDP Client", "Downloading RDP Client ..."},
      {TCS_STATUS_DOWNLOAD, 40, "Downloading RDP Client", "Downloading RDP Client (40) ..."},
      {TCS_STATUS_GET_PROFILE, 0, "", "Retrieving User Profile..."},
      {TCS_STATUS_CONNECTING, 0, "", "Connecting..."}};
  for (const auto& [id, lp, text, shown] : cases) {
    ui.UpdateTCSStatus(id, lp, text);
    Pump();
    EXPECT_TRUE(f.lblInfo.Visible && f.imProg.Visible && !f.lblInfo.Red) << shown;
    EXPECT_EQ(f.lblInfo.Caption, shown);
  }
  // A download's bytes stay with its status line and go with the next one.
  ui.UpdateDownloadStatus(TCS_STATUS_DOWNLOAD, 40, "Downloading RDP Client", 400, 1000);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Downloading RDP Client (40) ...");
  EXPECT_EQ(f.Download.Done, 400u);
  EXPECT_EQ(f.Download.Total, 1000u);
  ui.UpdateTCSStatus(TCS_STATUS_DOWNLOAD, 100, "Downloading RDP Client");
  Pump();
  EXPECT_FALSE(f.lblInfo.Visible);
  EXPECT_EQ(f.Download.Total, 0u);
  // Status 10 changes nothing.
  ui.UpdateTCSStatus(TCS_STATUS_GET_INFO, 0, "");
  Pump();
  EXPECT_FALSE(f.lblInfo.Visible);
  EXPECT_TRUE(m_Sink.Events.empty());
}

TEST_F(ControlTest, LostConnectionKeepsAnErrorAlreadyShown) {
  Load({{"custom_portal", "0"}, {"config_str", ConfigStr({})}});
  WaitStartup();
  const TVantrelTCSForm& f = m_X->Form();
  ASSERT_TRUE(f.btConnect.Enabled);
  m_X->UI().UpdateTCSStatus(TCS_STATUS_CONNECT_FAILED, 0, "");
  m_X->UI().UpdateTCSStatus(TCS_STATUS_DISCONNECTED, 1, "");
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Failed to connect to gateway");
  EXPECT_FALSE(f.btConnect.Enabled || f.btConnectAs.Enabled);
  m_X->UI().UpdateTCSStatus(TCS_STATUS_READY, 0, "");
  m_X->UI().UpdateTCSStatus(TCS_STATUS_DISCONNECTED, 1, "");
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Lost connection to the gateway");
  EXPECT_TRUE(f.lblInfo.Red && f.imAlert.Visible);
}

TEST_F(ControlTest, EmbeddedAlertsAndErrorBoxes) {
  Load({{"custom_portal", "0"}, {"config_str", ConfigStr({})}});
  WaitStartup();
  const TVantrelTCSForm& f = m_X->Form();
  TTCSUserInterface& ui = m_X->UI();
  ui.IdleTimeoutAlert(90061);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Due to inactivity your session will terminate in 1 day(s) 1:1:1");
  EXPECT_TRUE(f.lblInfo.Red && f.imAlert.Visible);
  ui.LifetimeTimeoutalert(61);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Your session will terminate in 1:1 Please save your work now !");
  ui.IdleTimeoutAlert(-1);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Due to inactivity your session expired");
  ui.IdleTimeoutAlertKM(10);  // the form shows nothing for it
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Due to inactivity your session expired");
  ui.ClearTimeoutAlerts();
  Pump();
  EXPECT_FALSE(f.lblInfo.Visible || f.imAlert.Visible || f.imProg.Visible);

  ui.ReportError(TCS_ERR_ACCESS_DENIED, "");
  ui.ReportError(TCS_ERR_APP_LAUNCH, "-2");
  Pump();
  auto shown = m_Dialogs.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Text, "Unknown error (26)");
  EXPECT_EQ(shown[0].Flags & MB_TYPEMASK, MB_OK);
  EXPECT_EQ(shown[1].Text, "The application you selected have no servers available");
  EXPECT_EQ(m_X->UI().PendingRecords(), 0u);
}

TEST_F(ControlTest, EmbeddedHostStatesOutsideTheList) {
  Load({{"custom_portal", "0"}, {"config_str", ConfigStr({})}});
  WaitStartup();
  const TVantrelTCSForm& f = m_X->Form();
  m_X->UI().UpdateHostStatus(7, HOST_STATUS_POWERUP_FAILED);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Power up failed");
  m_X->UI().UpdateHostStatus(-1, HOST_STATUS_UNKNOWN);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Unknown error");
  m_X->UI().UpdateHostStatus(0, HOST_STATUS_VERIFYING);
  Pump();
  EXPECT_EQ(f.lblInfo.Caption, "Verifying Desktop Availability...");
  // Powered off: the question is asked; No re-enables the tabs.
  m_X->Form().PageControl1.Enabled = false;
  m_Dialogs.PushResult(IDNO);
  m_X->UI().UpdateHostStatus(3, HOST_STATUS_POWERED_OFF);
  Pump();
  ASSERT_EQ(m_Dialogs.Shown().size(), 1u);
  EXPECT_EQ(m_Dialogs.Shown()[0].Text,
            "It seems the desktop might be turned off\r\nWould you like to try and turn it on?");
  EXPECT_TRUE(f.PageControl1.Enabled);
  EXPECT_FALSE(f.lblInfo.Visible);
}

TEST_F(ControlTest, AvailableDesktopInEmbeddedModeLaunchesWithSingleSignOn) {
  Load({{"custom_portal", "0"}, {"config_str", ConfigStr({{11, ""}})}});
  WaitStartup();
  // No host typed: the launch is refused by the manager, which shows that the launch ran.
  m_X->UI().UpdateHostStatus(0, HOST_STATUS_AVAILABLE);
  Pump();
  Pump();
  auto shown = m_Dialogs.Shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().Text, "Host must be specified");
}

TEST_F(ControlTest, FormEventsReachTheSink) {
  m_X->FireFormEvent(DISPID_OnClick);
  m_X->FireFormEvent(DISPID_OnTCSStatusChanged);  // not a form event
  char16_t key = u'a';
  m_X->KeyPress(key);
  EXPECT_EQ(key, u'b');
  EXPECT_EQ(m_Sink.Events, (std::vector<std::string>{"F202", "K"}));
}

}  // namespace
}  // namespace vantrel::test::control
