// The browser's page driving the control while the dialogs are windows: the verification
// question of the start-up is a window the person answers, never a message to the page, and the
// page's calls and events go on over the browser's framing until its port closes.
#include <gtest/gtest.h>

#include <thread>

#include "host/gtk/GtkPageHost.h"
#include "host/vantreltcs/NativeOpen.h"
#include "integration/host_pipes.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/PeerScenario.h"
#include "window/gtk_fixture.h"

namespace vantrel::test {
namespace {

using host::TJson;

gboolean AcceptWhenAsked(gpointer prmClicked) {
  if (Toplevel("dlgButtons") == nullptr) return G_SOURCE_CONTINUE;
  gtk_button_clicked(GTK_BUTTON(InWindow("dlgButtons", "buttonFirst")));
  *static_cast<bool*>(prmClicked) = true;
  return G_SOURCE_REMOVE;
}

TEST(WindowPageHost, ThePageDrivesTheControlWhileItsQuestionsAreWindows) {
  std::string why;
  ASSERT_TRUE(StartGtkDisplay(why)) << why;
  std::filesystem::path scenarios = std::filesystem::path(VANTREL_TESTPEER_DEMO).parent_path();
  testpeer::TAvailScenario avail =
      testpeer::AvailScenarioFromFile((scenarios / "avail-demo.json").string());
  avail.RulesXml =
      "<Rules><Rule><Triggers><postlogin/></Triggers><Body>"
      "<Condition><Eval><ostype/></Eval><Case Value=\"Linux\">"
      "<promptuser Option1=\"Accept\" Param=\"agree\">Accept the policy?</promptuser>"
      "</Case></Condition>"
      "<Condition><Eval><param>agree</param></Eval><Case Value=\"No\"><termsess/></Case>"
      "</Condition></Body></Rule></Rules>";
  testpeer::TAvailabilityServer availServer(avail);
  availServer.Start();
  testpeer::TGatewayPeer gateway(testpeer::DemoGatewayScenario(
      testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO), availServer.HostPort()));
  gateway.Start();
  TMapPropertyBag bag({{"platform", "Morv"},
                       {"custom_portal", "1"},
                       {"sp_name", "127.0.0.1"},
                       {"sp_port", std::to_string(gateway.Port())},
                       {"session_id", "s1"}});

  TPagePipes pipes;
  std::vector<TJson> seen;
  std::thread page([&] {
    auto until = [&](const std::function<bool(const TJson&)>& prmStop) {
      for (TJson m; !(m = pipes.FrameJson()).is_discarded();) {
        seen.push_back(m);
        if (prmStop(m)) return;
      }
    };
    pipes.SendFrame(R"({"id":1,"method":"InitTCS"})");
    until([](const TJson& m) {
      return m.value("event", "") == "OnTCSStatusChanged" && m["args"][0] == 6;
    });
    pipes.SendFrame(R"({"id":2,"get":"IsConnected"})");
    until([](const TJson& m) { return m.value("id", TJson()) == 2; });
    pipes.EndInput();
  });
  bool clicked = false;
  g_timeout_add(20, AcceptWhenAsked, &clicked);
  EXPECT_EQ(host::gtk::RunGtkPageHost(bag, pipes.HostIn, pipes.HostOut, -1, host::EncodeOpened()),
            0);
  page.join();
  EXPECT_TRUE(clicked);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), TJson({{"opened", true}}));
  EXPECT_EQ(seen.back(), TJson::parse(R"({"id":2,"result":1,"out":[]})"));
  for (const TJson& m : seen) EXPECT_FALSE(m.contains("dialog")) << m.dump();
}

}  // namespace
}  // namespace vantrel::test
