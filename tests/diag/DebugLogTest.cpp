#include "diag/DebugLog.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "platform/DebugLogSetup.h"
#include "platform/Settings.h"
#include "support/LogCapture.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

using test::TLogCapture;

// Sets the environment switch for one test and restores the test default afterwards.
class TSwitchEnv {
 public:
  explicit TSwitchEnv(const char* prmValue) {
    if (prmValue)
      setenv("VANTREL_DBGVIEW", prmValue, 1);
    else
      unsetenv("VANTREL_DBGVIEW");
  }
  ~TSwitchEnv() {
    setenv("VANTREL_DBGVIEW", "0", 1);
    std::filesystem::remove(ConfigDir() + "/settings.ini");
    InitDebugLog();
  }
};

void WriteSettings(const std::string& prmText) {
  std::filesystem::create_directories(ConfigDir());
  std::ofstream(ConfigDir() + "/settings.ini") << prmText;
}

TEST(DebugLog, SwitchOnExactlyForOneGoesToStandardError) {
  TSwitchEnv env("1");
  TLogCapture cap;
  testing::internal::CaptureStderr();
  WriteDebugLog("to the debug output");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "to the debug output\n");
  EXPECT_TRUE(cap.Records().empty());
}

TEST(DebugLog, SwitchFromSettingsFile) {
  TSwitchEnv env("0");  // either place can turn it on
  WriteSettings("# test\nDBGView=1\n");
  TLogCapture cap;
  testing::internal::CaptureStderr();
  WriteDebugLog("from settings");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "from settings\n");
  EXPECT_TRUE(cap.Records().empty());
}

TEST(DebugLog, SwitchValuesOtherThanOneUseTheViewer) {
  for (const char* value : {"1 ", "true", "", "01"}) {
    TSwitchEnv env(value);
    TLogCapture cap;
    testing::internal::CaptureStderr();
    WriteDebugLog("to the viewer");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << '"' << value << '"';
    EXPECT_TRUE(cap.HasLine("to the viewer")) << '"' << value << '"';
  }
  TSwitchEnv env(nullptr);
  WriteSettings("DBGView=1 \n");
  TLogCapture cap;
  WriteDebugLog("settings with a blank");
  EXPECT_TRUE(cap.HasLine("settings with a blank"));
}

TEST(DebugLog, RecordIsTextPlusOneZeroByte) {
  TLogCapture cap;
  WriteDebugLog("");
  WriteDebugLog("CAppMngMorv.IsOnline is True");
  auto recs = cap.Records();
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0], std::string(1, '\0'));
  EXPECT_EQ(recs[1], std::string("CAppMngMorv.IsOnline is True") + '\0');
}

TEST(DebugLog, ConcurrentWritersGiveWholeRecords) {
  TLogCapture cap;
  constexpr int kThreads = 6, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        WriteDebugLog(std::string("T")
                          .append(std::to_string(t))
                          .append("-")
                          .append(std::to_string(i))
                          .append(":")
                          .append(50 + (i * 37) % 900, static_cast<char>('a' + t)));
    });
  for (auto& th : threads) th.join();
  auto recs = cap.Records();
  std::set<std::string> seen;
  for (const auto& r : recs) {
    ASSERT_FALSE(r.empty());
    ASSERT_EQ(r.back(), '\0');
    std::string line = r.substr(0, r.size() - 1);
    ASSERT_EQ(line[0], 'T') << line;
    size_t dash = line.find('-'), colon = line.find(':');
    ASSERT_NE(colon, std::string::npos) << line;
    int t = std::stoi(line.substr(1, dash - 1));
    int i = std::stoi(line.substr(dash + 1, colon - dash - 1));
    EXPECT_EQ(line.substr(colon + 1), std::string(50 + (i * 37) % 900, static_cast<char>('a' + t)));
    EXPECT_TRUE(seen.insert(line.substr(0, colon)).second) << "duplicate " << line.substr(0, colon);
  }
  // A viewer that keeps reading loses nothing.
  EXPECT_EQ(recs.size(), static_cast<size_t>(kThreads * kLines));
}

TEST(DebugLog, ReopensOnceAfterViewerRestart) {
  TLogCapture cap;
  WriteDebugLog("before restart");
  cap.RestartViewer();
  WriteDebugLog("after restart");
  EXPECT_TRUE(cap.HasLine("before restart"));
  EXPECT_TRUE(cap.HasLine("after restart"));
  EXPECT_EQ(cap.Records().size(), 2u);
}

TEST(DebugLog, OversizedLineIsDroppedAndTheChannelKeepsWorking) {
  TLogCapture cap;
  WriteDebugLog(std::string(4 << 20, 'x'));
  WriteDebugLog("after the big one");
  EXPECT_TRUE(cap.HasLine("after the big one"));
}

TEST(DebugLog, NoViewerAtLoadDropsLinesAndDoesNotLookAgain) {
  std::filesystem::remove(DebugLogSocketPath());
  InitDebugLog();
  WriteDebugLog("dropped");
  WriteDebugLog(std::string(1 << 20, 'x'));
  // A viewer that appears later is not looked for until the channel is set up again.
  TLogCapture late(false);
  WriteDebugLog("still dropped");
  EXPECT_TRUE(late.Records().empty());
  InitDebugLog();
  WriteDebugLog("now delivered");
  EXPECT_TRUE(late.HasLine("now delivered"));
}

TEST(DebugLog, ViewerGoneForGoodLosesLinesQuietly) {
  {
    TLogCapture cap(true);
    WriteDebugLog("seen");
    EXPECT_TRUE(cap.HasLine("seen"));
  }
  WriteDebugLog("nobody listens");
  SUCCEED();
}

TEST(DebugLog, CaptureCreatesPrivateFolderAndCleansUp) {
  std::string path;
  {
    TLogCapture cap;
    path = cap.Path();
    struct stat st {};
    ASSERT_EQ(stat(std::filesystem::path(path).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(std::filesystem::exists(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  // A stale socket file left by a crashed viewer does not stop the next one.
  { std::ofstream(path) << "stale"; }
  TLogCapture again;
  WriteDebugLog("after stale");
  EXPECT_TRUE(again.HasLine("after stale"));
}

}  // namespace
}  // namespace vantrel
