// The manager's parameters and its share of the window messages.
#include <filesystem>
#include <fstream>

#include "SessionTestKit.h"
#include "support/TestEnv.h"

namespace vantrel::test::mng {
namespace {

void WriteSettings(const std::string& prmText) {
  std::filesystem::create_directories(TestRoot() + "/config/vantrel");
  std::ofstream(TestRoot() + "/config/vantrel/settings.ini") << prmText;
}

TEST_F(TSessionTest, WindowMessagesOfTheSession) {
  Make();
  ScriptGoodServer();
  ASSERT_TRUE(Start());
  m_UI.Clear();
  bool handled = false;

  m_Mng->MsgProc(WM_ControlConnLost, 0, 0, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(m_Tunnel->CloseClientConnsCalls, 1);

  // A desktop disconnected: the gateway hears of it only for a desktop that exists.
  m_Mng->MsgProc(WM_HostStateChanged, 1, HOST_STATUS_DISCONNECTED, handled);
  m_Mng->MsgProc(WM_HostStateChanged, 7, HOST_STATUS_DISCONNECTED, handled);
  m_Mng->MsgProc(WM_HostStateChanged, 0, HOST_STATUS_AVAILABLE, handled);
  ASSERT_EQ(TunnelLogs().size(), 2u);
  EXPECT_EQ(TunnelLogs().back(),
            (std::pair<int, std::string>{
                6, "Disconnected from remote desktop on " + m_Mng->GetHosts()[1]->GetHost()}));

  m_Mng->MsgProc(TCS_STATUS_RECONNECT, 0, 0, handled);
  m_Mng->MsgProc(WM_RDP_DISCONNECT, 0, 0, handled);
  EXPECT_TRUE(handled);
  m_Mng->MsgProc(WM_TCSStateNotify, 0, 0, handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(m_UI.Reports(), (TReports{"S8/1", "H1=7", "H7=7", "H0=1", "E28:"}));
}

TEST_F(TSessionTest, GatewayParametersAndTheSessionCookie) {
  const std::string cookies = TestRoot() + "/cookies.txt";
  std::ofstream(cookies) << "# Netscape HTTP Cookie File\n"
                            "gw.example\tFALSE\t/\tTRUE\t0\tother\tx\n"
                            "#HttpOnly_.example\tTRUE\t/\tTRUE\t0\tZQsession\tabc123\n";
  WriteSettings("CookieFile=" + cookies + "\n");
  Make();
  // Port not given: 0, not 443.
  m_Mng->SetZUVParams("gw.example", 0, "page=1", "", "m");
  EXPECT_EQ(m_Mng->Context().GetSPPort(), 0);
  EXPECT_EQ(m_Mng->GetSessID(), "abc123");
  EXPECT_EQ(m_Mng->Context().GetSPCookie(), "ZQsession=abc123");

  // Given by the page: the cookie store is not read.
  m_Mng->SetZUVParams("gw.example", 443, "page=1", "given", "m");
  EXPECT_EQ(m_Mng->GetSessID(), "given");
  EXPECT_EQ(m_Mng->Context().GetSPCookie(), "page=1");

  // No cookie for this gateway: both stay as the page gave them.
  m_Mng->SetZUVParams("other.host", 443, "page=1", "", "m");
  EXPECT_EQ(m_Mng->GetSessID(), "");
  EXPECT_EQ(m_Mng->Context().GetSPCookie(), "page=1");
  WriteSettings("");
}

TEST_F(TSessionTest, PluginsFoundAndMissing) {
  const std::string dir = TestRoot() + "/sys";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/found.so") << "x";
  std::ofstream(TestRoot() + "/abs.so") << "x";
  setenv("VANTREL_SYSTEM_DIR", dir.c_str(), 1);
  m_DB.Load("*u;D;1;4;1280;1024;3;1111111;found.so,*gone.so,opt.so," + TestRoot() + "/abs.so,*" +
            TestRoot() + "/none.so,;");
  Make();
  unsetenv("VANTREL_SYSTEM_DIR");
  EXPECT_EQ(m_Mng->GetPlugIns(), dir + "/found.so," + TestRoot() + "/abs.so");
  EXPECT_EQ(m_UI.Reports(), (TReports{"E5:" + dir + "/gone.so", "E5:" + TestRoot() + "/none.so"}));
  // A second call appends again.
  setenv("VANTREL_SYSTEM_DIR", dir.c_str(), 1);
  m_Mng->SetDBMng(&m_DB);
  unsetenv("VANTREL_SYSTEM_DIR");
  EXPECT_EQ(m_UI.Reports("E5").size(), 4u);
}

TEST_F(TSessionTest, DestructionRemovesTemporaryRdpFiles) {
  Make();
  const std::string dir = TestRoot() + "/tmp/Vantrel";
  ASSERT_TRUE(std::filesystem::is_directory(dir));
  std::ofstream(dir + "/a.rdp") << "x";
  std::ofstream(dir + "/b.RDP") << "x";
  std::ofstream(dir + "/keep.txt") << "x";
  m_Mng.reset();
  EXPECT_FALSE(std::filesystem::exists(dir + "/a.rdp"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/b.RDP"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/keep.txt"));
}

}  // namespace
}  // namespace vantrel::test::mng
