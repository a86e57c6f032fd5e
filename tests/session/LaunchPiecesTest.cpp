// The launch pieces without a session (address and destination checks, the private folder, file
// clean-up, the background worker) and the re-targeting of a page-hosted RDP client control.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LaunchTestKit.h"
#include "platform/ProcessSpawn.h"
#include "session/DesktopLaunch.h"

namespace vantrel::test::mng {
namespace {

TEST(LaunchPieces, TypedDestination) {
  std::string host = "unset";
  int port = 0;
  EXPECT_TRUE(ParseTypedDestination("desk", host, port));
  EXPECT_EQ(host, "desk");
  EXPECT_EQ(port, 3389);
  EXPECT_TRUE(ParseTypedDestination("desk:3390", host, port));
  EXPECT_EQ(host, "desk");
  EXPECT_EQ(port, 3390);
  for (const char* bad : {"desk:x", "desk:", "desk:3390:1", "desk:0", "desk:-5", "desk:65536"})
    EXPECT_FALSE(ParseTypedDestination(bad, host, port)) << bad;
}

TEST(LaunchPieces, PrivateFolderAndFiles) {
  const std::string dir = TestRoot() + "/private-folder";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  EXPECT_TRUE(EnsurePrivateFolder(dir));  // tightened to this user only
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A link in the folder's place is refused: files must not land where it points.
  const std::string link = TestRoot() + "/linked-folder";
  ASSERT_EQ(symlink(dir.c_str(), link.c_str()), 0);
  EXPECT_FALSE(EnsurePrivateFolder(link));

  // A desktop name cannot lead out of the folder.
  EXPECT_EQ(RdpFilePath(dir, "../../etc/x"), dir + "/.._.._etc_x.rdp");
  const std::string file = RdpFilePath(dir, "desk:3390");
  ASSERT_TRUE(WritePrivateFile(file, "long old content"));
  chmod(file.c_str(), 0644);
  ASSERT_TRUE(WritePrivateFile(file, "new"));
  EXPECT_EQ(ReadText(file), "new");
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string target = dir + "/target";
  ASSERT_TRUE(WritePrivateFile(target, "keep"));
  ASSERT_EQ(symlink(target.c_str(), (dir + "/linked.rdp").c_str()), 0);
  EXPECT_FALSE(WritePrivateFile(dir + "/linked.rdp", "overwrite"));
  EXPECT_EQ(ReadText(target), "keep");
}

TEST(LaunchPieces, ClearRDPFilesDeletesOnlyRdpFiles) {
  const std::string dir = TestRoot() + "/clear-folder";
  std::filesystem::create_directories(dir + "/sub.rdp");
  for (const char* name : {"a.rdp", "b:3390.rdp", ".hidden.rdp", "c.RDP", "d.rdp.txt", "e.ica"})
    std::ofstream(dir + "/" + name) << "x";
  EXPECT_EQ(ClearRDPFiles(dir, "*.rdp"), 2);
  std::vector<std::string> left;
  for (auto& e : std::filesystem::directory_iterator(dir)) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{".hidden.rdp", "c.RDP", "d.rdp.txt", "e.ica", "sub.rdp"}));
  EXPECT_EQ(ClearRDPFiles(TestRoot() + "/no-such-folder", "*.rdp"), 0);
}

// Waits for prmDone; the guard only keeps a broken build from hanging.
template <typename F>
bool Eventually(F prmDone) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
  while (!prmDone()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(LaunchPieces, WorkerCleansUpAndReapsAndStopsWithItsOwner) {
  const std::string dir = TestRoot() + "/worker-folder";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/a.rdp") << "x";
  std::ofstream(dir + "/keep.txt") << "x";
  pid_t pid = 0;
  {
    TRdpLaunchWorker worker(dir);
    worker.ScheduleCleanup(0);
    ASSERT_TRUE(Eventually([&] { return worker.CleanupsDone() == 1; }));
    EXPECT_FALSE(std::filesystem::exists(dir + "/a.rdp"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/keep.txt"));

    ASSERT_EQ(SpawnProcess({"true"}, pid), 0);
    worker.Watch(pid);
    ASSERT_TRUE(Eventually([&] { return worker.Watched() == 0; }));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: no zombie left

    // A clean-up far away and a child that runs on do not hold the worker's owner up.
    ASSERT_EQ(SpawnProcess({"sleep", "30"}, pid), 0);
    worker.Watch(pid);
    worker.ScheduleCleanup(600000);
    std::ofstream(dir + "/b.rdp") << "x";
  }
  EXPECT_TRUE(std::filesystem::exists(dir + "/b.rdp"));
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

class TSetRdpClientTest : public TLaunchTest {};

TEST_F(TSetRdpClientTest, RetargetsControlAfterPendingResolutions) {
  StartSession("<Settings><sso>1</sso><domain>CORP</domain></Settings>");
  m_Launch->Answers = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, NetAddr(10, 0, 0, 4)};
  TFakeRdpControl rdp;
  EXPECT_TRUE(m_Mng->SetRdpClient(rdp));
  EXPECT_EQ(Resolves().size(), 4u);
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].Dest, "10.0.0.4:3390");
  EXPECT_EQ(rdp.Server, "127.0.0.1");
  EXPECT_EQ(rdp.Port, 47001);
  EXPECT_EQ(rdp.UserName, "CORP\\effective");
  EXPECT_EQ(rdp.Password, "effpw");
  EXPECT_TRUE(m_UI.Reports("E").empty());
}

TEST_F(TSetRdpClientTest, WithoutAdvancedSettingsOrSingleSignOn) {
  StartSession("<Settings><sso>0</sso></Settings>");
  TFakeRdpControl rdp;
  rdp.Server = "10.0.0.5";
  rdp.HasAdvanced = false;
  m_Launch->AddOk = false;  // logged; the control still goes to the loopback address
  EXPECT_TRUE(m_Mng->SetRdpClient(rdp));
  EXPECT_TRUE(Resolves().empty());
  ASSERT_EQ(Conns().size(), 1u);
  EXPECT_EQ(Conns()[0].Dest, "10.0.0.5:3389");
  EXPECT_EQ(rdp.Server, "127.0.0.1");
  EXPECT_EQ(rdp.UserName, "");
}

TEST_F(TSetRdpClientTest, UnknownHostAndRefusedProperties) {
  StartSession("<Settings><sso>1</sso></Settings>");
  m_Launch->Answers = {0};
  TFakeRdpControl rdp;
  EXPECT_TRUE(m_Mng->SetRdpClient(rdp));
  EXPECT_EQ(m_UI.Reports("E"), TReports{"E7:desk.corp"});
  EXPECT_EQ(rdp.Server, "desk.corp");  // untouched
  EXPECT_EQ(Resolves().size(), 1u);

  m_Launch->Answers = {NetAddr(10, 0, 0, 4)};
  for (const char* failing : {"GetServer", "GetRDPPort", "SetServer", "SetRDPPort", "SetUserName",
                              "SetClearTextPassword"}) {
    TFakeRdpControl refusing;
    refusing.Fail = failing;
    EXPECT_FALSE(m_Mng->SetRdpClient(refusing)) << failing;
  }
}

}  // namespace
}  // namespace vantrel::test::mng
