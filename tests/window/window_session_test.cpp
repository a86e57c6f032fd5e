// vantreltcs's window against the reference gateway and availability server: the start-up asks
// for the desktop credentials in the login form, the desktops appear in the list, the settings
// follow the form's rules, Connect starts the RDP client, and closing the window releases the
// control. A screenshot of the running window is kept as build/.../artifacts/gtk-window.png.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "host/gtk/ControlCalls.h"
#include "host/gtk/GtkHost.h"
#include "platform/Settings.h"
#include "support/TestEnv.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerScenario.h"
#include "testpeer/TcpTestServer.h"
#include "window/gtk_fixture.h"

namespace vantrel::test {
namespace {

using host::gtk::TGtkHost;

constexpr int kSessionMs = 60000;

// Records the loopback address the control gave the RDP client, and ends.
const char kFakeClient[] =
    "#!/bin/bash\n"
    "f=\"${@: -1}\"\n"
    "sed -n 's/^full address:s:\\(.*\\)\\r$/\\1/p' \"$f\" > \"$WINDOW_TEST_RESULT.tmp\"\n"
    "mv \"$WINDOW_TEST_RESULT.tmp\" \"$WINDOW_TEST_RESULT\"\n";

GtkWidget* Form(const char* prmWidget) {
  return InWindow("VantrelTCSX", prmWidget);
}

std::string Cell(GtkWidget* prmView, int prmRow, int prmColumn) {
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(prmView));
  GtkTreeIter it;
  if (!gtk_tree_model_iter_nth_child(model, &it, nullptr, prmRow)) return "<none>";
  gchar* text = nullptr;
  gtk_tree_model_get(model, &it, prmColumn, &text, -1);
  std::string out = text != nullptr ? text : "";
  g_free(text);
  return out;
}

class WindowSession : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(StartGtkDisplay(why)) << why;
    std::filesystem::path scenarios = std::filesystem::path(VANTREL_TESTPEER_DEMO).parent_path();
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((scenarios / "avail-demo.json").string());
    avail.Settings.push_back({"vdiauth", "1"});  // the start-up asks for desktop credentials
    avail.RulesXml = "<Rules/>";  // the demo's verification prompt is not what this run is about
    m_Avail = std::make_unique<testpeer::TAvailabilityServer>(avail);
    m_Avail->Start();
    testpeer::TGatewayScenario gw = testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO);
    gw.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(m_Desktop.Start());
    m_Gateway = std::make_unique<testpeer::TGatewayPeer>(
        testpeer::DemoGatewayScenario(gw, m_Avail->HostPort()));
    m_Gateway->Start();
    std::string client = TempDir() + "/fake-rdp";
    std::ofstream(client) << kFakeClient;
    std::filesystem::permissions(client, std::filesystem::perms::owner_all);
    setenv("VANTREL_RDP_CLIENT", client.c_str(), 1);
    setenv("WINDOW_TEST_RESULT", m_Result.c_str(), 1);
    m_Bag.Set("platform", "Morv");
    m_Bag.Set("sp_name", "127.0.0.1");
    m_Bag.Set("sp_port", std::to_string(m_Gateway->Port()));
    m_Bag.Set("session_id", "s1");
  }

  testpeer::TTcpTestServer m_Desktop{testpeer::TTcpServerMode::Echo};
  std::unique_ptr<testpeer::TAvailabilityServer> m_Avail;
  std::unique_ptr<testpeer::TGatewayPeer> m_Gateway;
  TMapPropertyBag m_Bag;
  std::string m_Result = TempDir() + "/window-client.result";
};

TEST_F(WindowSession, LoginDesktopsSettingsLaunchAndClose) {
  // A portal's parameters for a page of its own; in the window nobody else would start it.
  m_Bag.Set("custom_portal", "1");
  auto host = std::make_unique<TGtkHost>(m_Bag, -1);
  EXPECT_STREQ(gtk_window_get_title(host->Window()), "Vantrel - 127.0.0.1");
  std::string loginTitle;
  std::vector<TStep> startUp = {
      {"login form", [] { return Toplevel("dlgLogin") != nullptr; },
       [&] {
         loginTitle = gtk_window_get_title(GTK_WINDOW(Toplevel("dlgLogin")));
         gtk_entry_set_text(GTK_ENTRY(InWindow("dlgLogin", "edUsername")), "alice");
         gtk_entry_set_text(GTK_ENTRY(InWindow("dlgLogin", "edPassword")), "vdi-pass");
         gtk_button_clicked(GTK_BUTTON(InWindow("dlgLogin", "Button1")));
       }},
      {"desktop list with states",
       [] {
         return Rows(Form("cbHost")) == 3 && gtk_widget_get_sensitive(Form("btConnect")) &&
                Cell(Form("cbHost"), 0, 2) == "Running";
       },
       {}},
  };
  ASSERT_EQ(RunSteps(startUp, kSessionMs, [&] { host->Close(); }), "");
  EXPECT_EQ(loginTitle, "VDI Authentication");
  auto hosts = m_Avail->Requests("/query/hosts");
  ASSERT_FALSE(hosts.empty());
  EXPECT_EQ(hosts.back().Param("_vdiuser"), "alice");
  EXPECT_EQ(Cell(Form("cbHost"), 0, 0), "Office desktop");
  EXPECT_EQ(Cell(Form("cbHost"), 0, 3), "30");
  EXPECT_FALSE(gtk_widget_get_visible(Form("edHost")));

  std::filesystem::path artifacts = std::filesystem::path(BinDir()).parent_path() / "artifacts";
  std::filesystem::create_directories(artifacts);
  EXPECT_TRUE(SaveScreenshot(GTK_WIDGET(host->Window()), (artifacts / "gtk-window.png").string()));

  // The form's rules, through its widgets: what the person picks is what the control reads.
  TVantrelTCSX& control = host->Control();
  const struct {
    const char* Name;
    std::function<void()> Act;
    std::function<bool()> Holds;
  } rules[] = {
      {"custom size enables both boxes with the defaults",
       [] { gtk_combo_box_set_active(GTK_COMBO_BOX(Form("cbSize")), SIZE_CUSTOM); },
       [&] {
         return gtk_widget_get_sensitive(Form("edWidth")) &&
                std::string(gtk_entry_get_text(GTK_ENTRY(Form("edWidth")))) ==
                    std::to_string(control.DBMng().GetDefWidth()) &&
                !gtk_widget_get_sensitive(Form("cbSpan"));
       }},
      {"full screen frees span monitors",
       [] { gtk_combo_box_set_active(GTK_COMBO_BOX(Form("cbSize")), SIZE_FULL_SCREEN); },
       [&] {
         return !gtk_widget_get_sensitive(Form("edWidth")) &&
                gtk_widget_get_sensitive(Form("cbSpan")) &&
                host::gtk::GetI4(control, "ScreenWidth") == -1;
       }},
      {"the slow dial-up preset ticks four boxes",
       [] { gtk_combo_box_set_active(GTK_COMBO_BOX(Form("cbxConnType")), 0); },
       [&] {
         return !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Form("cbBitmapCache"))) &&
                gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Form("cbThemes"))) &&
                host::gtk::GetI4(control, "EnableTheme") == 1;
       }},
      {"a redirection box reaches the control",
       [] {
         GtkToggleButton* b = GTK_TOGGLE_BUTTON(Form("cbPorts"));
         gtk_toggle_button_set_active(b, !gtk_toggle_button_get_active(b));
       },
       [&] {
         return host::gtk::GetI4(control, "RedirPorts") ==
                (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Form("cbPorts"))) ? 1 : 0);
       }},
      {"colour depth chosen in the list",
       [] { gtk_combo_box_set_active(GTK_COMBO_BOX(Form("cbColor")), 3); },
       [&] { return host::gtk::GetI4(control, "ColorDepth") == 3; }},
  };
  for (const auto& r : rules) {
    r.Act();
    EXPECT_TRUE(r.Holds()) << r.Name;
  }

  gtk_button_clicked(GTK_BUTTON(Form("btConnect")));
  std::vector<TStep> launch = {
      {"RDP client started", [&] { return std::filesystem::exists(m_Result); }, {}}};
  ASSERT_EQ(RunSteps(launch, kSessionMs, [&] { host->Close(); }), "");
  std::string address;
  std::getline(std::ifstream(m_Result), address);
  EXPECT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;

  gtk_button_clicked(GTK_BUTTON(Form("btEnd")));
  EXPECT_TRUE(host->Closed());
  auto start = std::chrono::steady_clock::now();
  host.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(Toplevel("VantrelTCSX"), nullptr);
  EXPECT_TRUE(m_Gateway->WaitForSessionsEnded(1, kSessionMs));
}

}  // namespace
}  // namespace vantrel::test
