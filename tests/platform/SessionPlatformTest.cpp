// The platform parts the session manager starts up with: machine identifier, cookie file,
// program runs, the RDP client's version and package expansion.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ArchiveExpand.h"
#include "platform/CookieStore.h"
#include "platform/Event.h"
#include "platform/MachineId.h"
#include "platform/ProcessSpawn.h"
#include "platform/RdpClient.h"
#include "support/TestEnv.h"

namespace vantrel::test {
namespace {

constexpr int kHangGuardMs = 60000;

std::string WriteFile(const std::string& prmName, const std::string& prmText) {
  std::string path = TestRoot() + "/" + prmName;
  std::ofstream(path, std::ios::binary) << prmText;
  return path;
}

TEST(MachineId, FirstReadableIdentifierTrimmed) {
  std::string empty = WriteFile("mid-empty", " \n");
  std::string good = WriteFile("mid-good", "  0123abcd\nsecond line\n");
  EXPECT_EQ(ReadMachineId({TestRoot() + "/missing", empty, good}), "0123abcd");
  EXPECT_EQ(ReadMachineId({TestRoot() + "/missing", empty}), "");
  // Oversized content is cut, never read whole.
  std::string huge = WriteFile("mid-huge", std::string(100000, 'a'));
  EXPECT_EQ(ReadMachineId({huge}).size(), 128u);
}

TEST(CookieStore, MatchesDomainPathSchemeAndExpiry) {
  const std::string text =
      "# Netscape HTTP Cookie File\n"
      "gw.example\tFALSE\t/\tFALSE\t0\tplain\t1\r\n"
      ".example\tTRUE\t/\tTRUE\t0\tsub\t2\n"
      "#HttpOnly_gw.example\tFALSE\t/prx\tFALSE\t0\tpath\t3\n"
      "gw.example\tFALSE\t/\tFALSE\t100\told\t4\n"
      "other.example\tFALSE\t/\tFALSE\t0\tforeign\t5\n"
      "badexample\tTRUE\t/\tFALSE\t0\tsuffix\t6\n"
      "gw.example\tFALSE\t/\tFALSE\tnotanumber\tbroken\t7\n"
      "short\tline\n";
  EXPECT_EQ(CookiesFromNetscapeText(text, "https://GW.example/", 200), "plain=1; sub=2");
  EXPECT_EQ(CookiesFromNetscapeText(text, "https://gw.example:8443/prx/x", 50),
            "plain=1; sub=2; path=3; old=4");
  // Secure cookies only over https.
  EXPECT_EQ(CookiesFromNetscapeText(text, "http://gw.example/", 200), "plain=1");
  EXPECT_EQ(CookiesFromNetscapeText(text, "not a url", 200), "");
  // Without a configured file there is nothing.
  EXPECT_EQ(GetCookiesForURL("https://gw.example/"), "");
}

TEST(ProcessSpawn, RunsWaitsAndCaptures) {
  std::string out;
  ASSERT_TRUE(RunCaptureOutput({"sh", "-c", "echo hello; echo more"}, kHangGuardMs, out));
  EXPECT_EQ(out, "hello\nmore\n");
  ASSERT_TRUE(RunCaptureOutput({"sh", "-c", "head -c 5000 /dev/zero"}, kHangGuardMs, out, 100));
  EXPECT_EQ(out.size(), 100u);
  // A program that does not end in time is killed and reaped.
  EXPECT_FALSE(RunCaptureOutput({"sleep", "30"}, 100, out));
  EXPECT_FALSE(RunCaptureOutput({"no-such-program-here"}, 100, out));

  pid_t pid = 0;
  EXPECT_EQ(SpawnProcess({"no-such-program-here"}, pid), ENOENT);
  ASSERT_EQ(SpawnProcess({"sh", "-c", "exit 3"}, pid), 0);
  int code = -1;
  ASSERT_TRUE(WaitProcess(pid, nullptr, kHangGuardMs, code));
  EXPECT_EQ(code, 3);

  // The cancel event ends the wait; the program is left running, then reaped here.
  TEvent cancel(true);
  ASSERT_EQ(SpawnProcess({"sleep", "30"}, pid), 0);
  std::thread canceller([&] { cancel.Set(); });
  EXPECT_FALSE(WaitProcess(pid, &cancel, -1, code));
  canceller.join();
  EXPECT_EQ(kill(pid, 0), 0);
  kill(pid, SIGKILL);
  ASSERT_TRUE(WaitProcess(pid, nullptr, kHangGuardMs, code));
  EXPECT_EQ(code, 128 + SIGKILL);
}

TEST(ProcessSpawn, FindsProgramsOnPathOrByPath) {
  EXPECT_FALSE(FindProgram("sh").empty());
  EXPECT_EQ(FindProgram("no-such-program-here"), "");
  EXPECT_EQ(FindProgram(""), "");
  std::string plain = WriteFile("not-executable", "x");
  EXPECT_EQ(FindProgram(plain), "");
  chmod(plain.c_str(), 0700);
  EXPECT_EQ(FindProgram(plain), plain);
}

TEST(RdpClient, VersionFromFreeRdpOutputAndProgramSetting) {
  EXPECT_EQ(RdpVersionFromFreeRdp("This is FreeRDP version 2.3.0 (Release)\n"), "10.0.2.3.0");
  EXPECT_EQ(RdpVersionFromFreeRdp("This is FreeRDP version 3.0.0-dev (git)"), "10.0.3.0.0");
  EXPECT_EQ(RdpVersionFromFreeRdp("This is FreeRDP version 1.1.0-beta1"), "7.0.1.1.0");
  EXPECT_EQ(RdpVersionFromFreeRdp("no version here"), "");
  EXPECT_EQ(RdpVersionFromFreeRdp("version .5"), "");
  EXPECT_EQ(RdpVersionFromFreeRdp(""), "");

  setenv("VANTREL_RDP_CLIENT", "no-such-client", 1);
  EXPECT_FALSE(TRdpClient().CanCreate());
  setenv("VANTREL_RDP_CLIENT", "sh", 1);
  EXPECT_TRUE(TRdpClient().CanCreate());
  unsetenv("VANTREL_RDP_CLIENT");
  EXPECT_EQ(RdpClientProgram(), "vantrel-mstsc");
}

TEST(ArchiveExpand, FilesKeepTheirNamesAndStayInTheFolder) {
  const std::string src = TestRoot() + "/pkgsrc";
  const std::string dest = TestRoot() + "/expand";
  std::filesystem::create_directories(src + "/sub/dir");
  std::filesystem::create_directories(dest);
  WriteFile("pkgsrc/msrdp.ocx", "library");
  WriteFile("pkgsrc/sub/dir/readme.txt", "text");
  const std::string outside = WriteFile("outside.txt", "original");
  const std::string pkg = TestRoot() + "/pkg.tar";
  std::string out;
  // An entry with an absolute name must not be written where it names.
  ASSERT_TRUE(
      RunCaptureOutput({"tar", "-cPf", pkg, "-C", src, "msrdp.ocx", "sub/dir/readme.txt", outside},
                       kHangGuardMs, out));
  WriteFile("outside.txt", "changed");
  std::string error;
  ASSERT_TRUE(ExpandArchive(pkg, dest, error)) << error;
  std::ifstream in(dest + "/msrdp.ocx");
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "library");
  EXPECT_TRUE(std::filesystem::exists(dest + "/readme.txt"));
  EXPECT_TRUE(std::filesystem::exists(dest + "/outside.txt"));
  std::ifstream kept(outside);
  std::getline(kept, content);
  EXPECT_EQ(content, "changed");

  EXPECT_FALSE(ExpandArchive(WriteFile("garbage.cab", "not an archive at all"), dest, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ExpandArchive(TestRoot() + "/missing.cab", dest, error));
}

}  // namespace
}  // namespace vantrel::test
