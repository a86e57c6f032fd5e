// The proxy library's log: the line format, levels from the shared block, one file per local
// day, and records handed to a viewer.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Settings.h"
#include "proxylog/LogViewerLink.h"
#include "proxylog/Loglib.h"
#include "proxylog/UtilityLib.h"

namespace vantrel::proxylog {
namespace {

std::string ReadUtf16File(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string bytes = s.str();
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  return Utf16ToUtf8(text);
}

time_t g_Shift = 0;
timespec ShiftedClock() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += g_Shift;
  return ts;
}

std::string FileOf(time_t prmShift) {
  time_t t = time(nullptr) + prmShift;
  tm local{};
  localtime_r(&t, &local);
  return LogFolder() + LogFileName(local);
}

TEST(ProxyLog, LineFormat) {
  TLogLine l;
  l.Local.tm_year = 2026 - 1900;
  l.Local.tm_mon = 2;
  l.Local.tm_mday = 7;
  l.Local.tm_hour = 9;
  l.Local.tm_min = 5;
  l.Local.tm_sec = 1;
  l.Millis = 42;
  l.ProcessId = 12;
  l.ThreadId = 34;
  l.Module = u"Ardomin_Qorel";
  l.Level = kLevelWarning;
  l.File = "/src/proxylib/File.cpp";
  l.Line = 77;
  l.Process = "prog";
  l.Message = u"a\nb \u00e9";
  EXPECT_EQ(Utf16ToUtf8(FormatLogLine(l)),
            "03/07/26 09:05:01.042 P-12: T-34: Ardomin_Qorel: (WARNING): File.cpp:77  <prog> "
            "a\r\nb \xc3\xa9\r\n");
  l.Process.clear();
  EXPECT_NE(Utf16ToUtf8(FormatLogLine(l)).find("<Unknown Moudle>"), std::string::npos);
  EXPECT_EQ(LogFileName(l.Local), "2026-03-07.txt");
  EXPECT_EQ(GetOSCode(), -1);
  EXPECT_EQ(GetActiveUserTempDir(), TempDir() + "/");
}

TEST(ProxyLog, LevelsFromTheSharedBlockAndOneFilePerDay) {
  constexpr int kModule = 3;  // a module of its own, so other processes' records never mix in
  ASSERT_TRUE(LogOpen(kModule));
  TSharedBlock block;
  ASSERT_TRUE(block.Open(LogObjectName(TLogObject::Block, CurrentIntegrityClass()), false));
  SetModuleLevel(block.Data(), kModule, kLevelWarning);
  PROXY_LOG(kLevelInfo, "info %d", 1);
  PROXY_LOG(kLevelWarning, "warning %d", 2);
  PROXY_LOG(kLevelError, "two\nlines");
  PROXY_LOG(kLevelInfo, "%s", std::string(5000, 'x').c_str());
  SetModuleLevel(block.Data(), kModule, kLevelOff);
  PROXY_LOG(kLevelError, "silenced");
  SetModuleLevel(block.Data(), kModule, kLevelInfo);
  std::string today = ReadUtf16File(FileOf(0));
  EXPECT_EQ(today.find("info 1"), std::string::npos);
  EXPECT_NE(today.find("(WARNING): LoglibTest.cpp:"), std::string::npos) << today;
  EXPECT_NE(today.find("warning 2\r\n"), std::string::npos);
  EXPECT_NE(today.find("two\r\nlines\r\n"), std::string::npos);
  EXPECT_EQ(today.find("silenced"), std::string::npos);
  EXPECT_EQ(today.find("xxxxx"), std::string::npos) << "an oversized message is dropped";

  g_Shift = 24 * 3600;
  SetLogClockForTest(ShiftedClock);
  PROXY_LOG(kLevelInfo, "tomorrow");
  SetLogClockForTest(nullptr);
  EXPECT_EQ(ReadUtf16File(FileOf(0)), today);
  EXPECT_NE(ReadUtf16File(FileOf(g_Shift)).find("tomorrow"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(LogFolder()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  LogClose();
}

// Another process logs first and looks for the viewer; this one must still find it.
TEST(ProxyLog, RecordsReachAPresentViewerFromEveryWritingProcess) {
  TProxyLogViewer viewer;
  ASSERT_TRUE(viewer.Open());
  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    LogOpen(4);
    PROXY_LOG(kLevelError, "from another process");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  ASSERT_TRUE(LogOpen(4));
  // The other record holds the slot until the viewer takes it; take it only after this process
  // has looked, so the viewer does not set its mark again in between.
  TViewerRecord r;
  bool mine = false;
  std::thread receiver([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 50 && !mine; ++i)
      mine = viewer.Receive(std::chrono::milliseconds(2000), r) &&
             r.Line.ProcessId == static_cast<unsigned>(getpid());
  });
  errno = 1234;
  PROXY_LOG(kLevelError, "to the viewer %d", 5);
  EXPECT_EQ(errno, 1234) << "logging keeps the caller's error";
  receiver.join();
  ASSERT_TRUE(mine);
  EXPECT_EQ(r.Module, 4);
  EXPECT_EQ(r.Line.Level, kLevelError);
  EXPECT_EQ(r.Line.Message, u"to the viewer 5");
  EXPECT_NE(r.Line.File.find("LoglibTest.cpp"), std::string::npos);
  EXPECT_EQ(r.Line.Process, "test_proxylib");
  EXPECT_EQ(r.Line.Local.tm_year + 1900, [] {
    time_t t = time(nullptr);
    tm l{};
    localtime_r(&t, &l);
    return l.tm_year + 1900;
  }());
  LogClose();
}

}  // namespace
}  // namespace vantrel::proxylog
