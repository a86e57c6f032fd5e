#include "tunnel/LocalHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "diag/DebugLog.h"
#include "support/LogCapture.h"

namespace vantrel {
namespace {

using test::TLogCapture;

std::set<std::string> Entries(const char* prmDir) {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(prmDir))
    out.insert(e.path().filename().string());
  return out;
}

// The lowest descriptor number that is free: with the limit set to it, the next socket fails.
int LowestFreeFd() {
  int fd = fcntl(0, F_DUPFD, 0);
  close(fd);
  return fd;
}

// Restores the descriptor limit when a test ends, whatever it asserted.
class TFdLimit {
 public:
  explicit TFdLimit(rlim_t prmSoft) {
    getrlimit(RLIMIT_NOFILE, &m_Saved);
    rlimit l = m_Saved;
    l.rlim_cur = prmSoft;
    setrlimit(RLIMIT_NOFILE, &l);
  }
  ~TFdLimit() { setrlimit(RLIMIT_NOFILE, &m_Saved); }

 private:
  rlimit m_Saved{};
};

TEST(LocalHost, WorkingLoopbackLeavesNoSocketOrThread) {
  TLogCapture cap;
  SetFixedLocalHostAddr();  // warm-up: lazily created runtime state does not count as a leak
  cap.Clear();
  auto fdsBefore = Entries("/proc/self/fd");
  auto tasksBefore = Entries("/proc/self/task");
  SetFixedLocalHostAddr();
  EXPECT_EQ(Entries("/proc/self/fd"), fdsBefore);
  EXPECT_EQ(Entries("/proc/self/task"), tasksBefore);
  EXPECT_EQ(cap.Lines(), (std::vector<std::string>{"SetFixedLocalHostAddr - Begin",
                                                   "SetFixedLocalHostAddr - End"}));
  EXPECT_EQ(GetFixedLocalHostAddr(), "127.0.0.1");
  EXPECT_EQ(std::string(g_FixedLocalHostAddr, sizeof g_FixedLocalHostAddr),
            std::string("127.0.0.1\0", 10));
  EXPECT_TRUE(g_LocalHostTestDone);
}

TEST(LocalHost, ConcurrentSelfTestsAllReturn) {
  TLogCapture cap;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([] { SetFixedLocalHostAddr(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(cap.Count("SetFixedLocalHostAddr - End"), 4u);
  EXPECT_EQ(cap.Count("Failed"), 0u);
}

TEST(LocalHost, NoServerSocketEndsEarly) {
  TLogCapture cap;
  // The capture's reader must have started before the limit: the sanitizers' first check of its
  // thread needs a descriptor of its own.
  WriteDebugLog("warm-up");
  ASSERT_TRUE(cap.WaitFor("warm-up"));
  cap.Clear();
  {
    TFdLimit limit(LowestFreeFd());
    SetFixedLocalHostAddr();
  }
  EXPECT_EQ(cap.Lines(),
            (std::vector<std::string>{"SetFixedLocalHostAddr - Begin",
                                      "SetFixedLocalHostAddr - Failed to create server socket"}));
  EXPECT_EQ(GetFixedLocalHostAddr(), "127.0.0.1");
}

TEST(LocalHost, NoClientSocketStopsTheAcceptThread) {
  TLogCapture cap;
  // Warm-up with descriptors to spare: runtime checks done once per type (the sanitizers') must
  // not meet the limit below.
  SetFixedLocalHostAddr();
  cap.Clear();
  auto tasksBefore = Entries("/proc/self/task");
  {
    TFdLimit limit(LowestFreeFd() + 1);  // room for the server socket only
    SetFixedLocalHostAddr();
  }
  EXPECT_EQ(Entries("/proc/self/task"), tasksBefore);
  EXPECT_EQ(cap.Lines(),
            (std::vector<std::string>{"SetFixedLocalHostAddr - Begin",
                                      "SetFixedLocalHostAddr - Failed to create client socket (" +
                                          std::to_string(EMFILE) + ")",
                                      "SetFixedLocalHostAddr - End"}));
  EXPECT_EQ(GetFixedLocalHostAddr(), "127.0.0.1");
}

constexpr const char* kLoopbackChildEnv = "VANTREL_TEST_LOOPBACK_CHILD";

// The child half of the test below, run in a fresh image of this program before main: a child
// forked from the threaded test process could inherit a lock another thread held and hang.
// Exit 77 = namespaces unavailable here.
[[maybe_unused]] const bool kLoopbackChild = [] {
  if (std::getenv(kLoopbackChildEnv) == nullptr) return false;
  if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) _exit(77);
  SetFixedLocalHostAddr();
  _exit(GetFixedLocalHostAddr() == "127.0.0.1" ? 0 : 1);
}();

// Runs the self-test in a child process with a private network namespace whose loopback
// interface is down.
TEST(LocalHost, UnusableLoopbackLogsConnectFailure) {
  TLogCapture cap;
  char self[] = "/proc/self/exe";
  char* argv[] = {self, nullptr};
  setenv(kLoopbackChildEnv, "1", 1);
  pid_t pid = fork();
  if (pid == 0) {
    execv(self, argv);
    _exit(127);
  }
  unsetenv(kLoopbackChildEnv);
  ASSERT_GE(pid, 0);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "self-test did not end";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "SetFixedLocalHostAddr - Begin");
  EXPECT_EQ(lines[1], "SetFixedLocalHostAddr - Failed to connect to test socket" +
                          std::to_string(ENETUNREACH) + ") using 127.0.0.1");
  EXPECT_EQ(lines[2], "SetFixedLocalHostAddr - End");
}

}  // namespace
}  // namespace vantrel
