// Runs the built viewer program and logs through the library into it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diag/DebugLog.h"
#include "platform/DebugLogSetup.h"
#include "platform/Settings.h"
#include "support/TestEnv.h"

extern char** environ;

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

std::string Viewer() {
  return test::BinDir() + "/vantrel-logview";
}

pid_t Spawn(const std::vector<std::string>& prmArgs, const std::string& prmStdout = {}) {
  std::vector<char*> argv;
  for (const auto& a : prmArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!prmStdout.empty())
    posix_spawn_file_actions_addopen(&fa, 1, prmStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits up to prmMs for the child to end; kills it when it does not. -1 when it had to be killed.
int WaitExit(pid_t prmPid, int prmMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(prmMs);
  int status = 0;
  while (waitpid(prmPid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(prmPid, SIGKILL);
      waitpid(prmPid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& prmPath) {
  std::ifstream in(prmPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WaitUntil(const std::function<bool()>& prmCond, int prmMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(prmMs);
  while (!prmCond()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool IsSocket(const std::string& prmPath) {
  struct stat st {};
  return stat(prmPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

TEST(LogView, ReceivesLinesIntoOutputFileAndCleansUpOnTerm) {
  std::string out = TempDir() + "/viewer.log";
  std::string sock = DebugLogSocketPath();
  std::filesystem::create_directories(std::filesystem::path(sock).parent_path());
  { std::ofstream(sock) << "stale"; }  // left behind by a viewer that crashed
  pid_t pid = Spawn({Viewer(), "--follow", "--output", out});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsSocket(sock); }, 10000));
  InitDebugLog();
  WriteDebugLog("CAppMngMorv.IsOnline is True");
  WriteDebugLog("");
  bool seen = WaitUntil(
      [&] {
        std::string t = ReadAll(out);
        return std::count(t.begin(), t.end(), '\n') >= 2;
      },
      10000);
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 10000), 0);
  InitDebugLog();
  ASSERT_TRUE(seen) << ReadAll(out);
  std::string text = ReadAll(out);
  std::istringstream lines(text);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  // "YYYY-MM-DD HH:MM:SS.mmm " then the text, zero byte dropped.
  ASSERT_GE(first.size(), 24u);
  EXPECT_EQ(first.substr(24), "CAppMngMorv.IsOnline is True");
  EXPECT_EQ(first[4], '-');
  EXPECT_EQ(first[19], '.');
  EXPECT_EQ(second.size(), 24u) << second;
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(sock));
  struct stat st {};
  ASSERT_EQ(stat(std::filesystem::path(sock).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(LogView, SecondViewerRefusesAndHelpWorks) {
  std::string sock = DebugLogSocketPath();
  pid_t first = Spawn({Viewer()}, TempDir() + "/first.out");
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsSocket(sock); }, 10000));
  pid_t second = Spawn({Viewer()}, TempDir() + "/second.out");
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitExit(second, 10000), 1);
  EXPECT_TRUE(IsSocket(sock));  // the running viewer keeps its socket
  kill(first, SIGINT);
  EXPECT_EQ(WaitExit(first, 10000), 0);
  EXPECT_FALSE(std::filesystem::exists(sock));

  pid_t help = Spawn({Viewer(), "--help"}, TempDir() + "/help.out");
  EXPECT_EQ(WaitExit(help, 10000), 0);
  EXPECT_NE(ReadAll(TempDir() + "/help.out").find("--output FILE"), std::string::npos);
  pid_t bad = Spawn({Viewer(), "--output"}, TempDir() + "/bad.out");
  EXPECT_EQ(WaitExit(bad, 10000), 2);
}

}  // namespace
}  // namespace vantrel
