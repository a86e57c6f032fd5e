// The start parameters: their order, their effects on the store, the manager and the form, and
// when start-up begins.
#include "ControlTestKit.h"

namespace vantrel::test::control {
namespace {

TEST_F(ControlTest, MorvPlatformDefaultsBeforeTheConfigurationString) {
  Load({{"platform", "Morv"}, {"custom_portal", "1"}, {"sp_name", "gw.example"}});
  EXPECT_EQ(m_X->TCSMng().Context().GetPlatformType(), PLATFORM_TYPE_MORV);
  EXPECT_EQ(m_X->TCSMng().Context().GetModID(), "Vantrel");
  EXPECT_EQ(m_X->DBMng().GetOstraServer(), "127.0.0.1:9090");
  // Absent "sp_port" is 0, not the manager's 443: the parameters are always handed over.
  EXPECT_EQ(m_X->TCSMng().Context().GetSPPort(), 0);
  EXPECT_EQ(m_X->TCSMng().Context().GetSP(), "gw.example");
}

TEST_F(ControlTest, LaterParametersOverrideThePlatformDefaults) {
  Load({{"platform", "Morv"},
        {"custom_portal", "1"},
        {"module_id", "mod7"},
        {"sp_port", "8443"},
        {"hidedesks", "x"},
        {"config_str", "  " + ConfigStr({{13, "10.2.2.2:80"}}) + " "}});
  EXPECT_EQ(m_X->TCSMng().Context().GetModID(), "mod7");
  EXPECT_EQ(m_X->TCSMng().Context().GetSPPort(), 8443);
  EXPECT_EQ(m_X->DBMng().GetOstraServer(), "10.2.2.2:80");
  // A "hidedesks" that is no number counts as absent.
  EXPECT_EQ(m_X->TCSMng().GetHideDesksParams(), -1);
}

TEST_F(ControlTest, OtherPlatformsSelectTheLegacyTunnel) {
  Load({{"platform", "morv"}, {"custom_portal", "1"}});
  EXPECT_EQ(m_X->TCSMng().Context().GetPlatformType(), PLATFORM_TYPE_PELX);
  EXPECT_EQ(m_X->TCSMng().Context().GetModID(), "");
}

TEST_F(ControlTest, CustomPortalWaitsForInitTCS) {
  Load({{"custom_portal", "1"}, {"config_str", ConfigStr({})}});
  EXPECT_TRUE(m_X->CustomPortal());
  EXPECT_EQ(m_X->Window().ProcessMessages(), 0);
  EXPECT_FALSE(m_X->StartupDone());
  EXPECT_TRUE(m_Sink.Events.empty());
}

TEST_F(ControlTest, DisabledEmbeddedFormSwitchesToCustomPortalAndSpansMonitors) {
  Load({{"config_str", ConfigStr({{16, "00"}})}});
  EXPECT_TRUE(m_X->CustomPortal());
  EXPECT_TRUE(m_X->Form().cbSpan.Checked);
  EXPECT_FALSE(m_X->StartupDone());
}

TEST_F(ControlTest, OnlyExactlyOneMeansCustomPortal) {
  // "true" is not "1": embedded mode, and the start-up begins at once.
  Load({{"custom_portal", "true"}, {"config_str", ConfigStr({})}});
  EXPECT_FALSE(m_X->CustomPortal());
  EXPECT_FALSE(m_X->Form().cbSpan.Checked);
  WaitStartup();
  EXPECT_TRUE(m_Sink.Events.empty());
}

TEST_F(ControlTest, PerformancePresetAndHiddenTabs) {
  Load({{"custom_portal", "1"}, {"perf_preset", "0"}, {"hide_ui", "1"}});
  const TVantrelTCSForm& f = m_X->Form();
  EXPECT_EQ(f.cbxConnType.Text, "Slow Dialup");
  EXPECT_FALSE(f.cbBitmapCache.Checked);
  EXPECT_TRUE(f.cbDesktopWallpaper.Checked && f.cbFullWindowDrag.Checked && f.cbMenuAnim.Checked &&
              f.cbThemes.Checked);
  EXPECT_FALSE(f.PageControl1.Visible);
}

TEST_F(ControlTest, PresetsOutsideTheirRangeChangeNothing) {
  for (const char* preset : {"4", "-1", "x"}) {
    Load({{"custom_portal", "1"}, {"perf_preset", preset}, {"hide_ui", "01"}});
    EXPECT_EQ(m_X->Form().cbxConnType.Text, "Custom") << preset;
    EXPECT_TRUE(m_X->Form().PageControl1.Visible);
  }
}

}  // namespace
}  // namespace vantrel::test::control
