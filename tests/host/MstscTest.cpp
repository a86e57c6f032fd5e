// vantrel-mstsc against a recording fake xfreerdp: the command line, the credentials on
// standard input (never in the arguments), the client's copy of the file, and the failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "session/AppRdpFile.h"
#include "session/RdpFile.h"
#include "support/TestEnv.h"

namespace vantrel::test {
namespace {

std::string ReadText(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& prmText) {
  std::vector<std::string> out;
  std::stringstream s(prmText);
  for (std::string line; std::getline(s, line);) out.push_back(line);
  return out;
}

class Mstsc : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Rec = TestRoot() + "/rec-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(m_Rec);
    m_Fake = m_Rec + "/fake-xfreerdp";
    std::ofstream(m_Fake) << "#!/bin/sh\n"
                          << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << m_Rec
                          << "/argv'\n"
                          << "cp \"$1\" '" << m_Rec << "/file'\n"
                          << "cat > '" << m_Rec << "/stdin'\n"
                          << "exit 3\n";
    std::filesystem::permissions(m_Fake, std::filesystem::perms::owner_all);
    setenv("VANTREL_XFREERDP", m_Fake.c_str(), 1);
  }

  std::string WriteRdp(const std::string& prmBytes) {
    std::string path = m_Rec + "/desk:3390.rdp";
    std::ofstream(path, std::ios::binary) << prmBytes;
    return path;
  }

  // Runs the program with prmArgs (already quoted); its exit code, standard error kept.
  int Run(const std::string& prmArgs) {
    std::string cmd =
        BinDir() + "/vantrel-mstsc " + prmArgs + " 2>'" + m_Rec + "/stderr' </dev/null";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string SignedInFile(const std::string& prmPassword) {
    TWinDesktopParams p;
    p.prmServer = "127.0.0.1";
    p.prmPort = 41234;
    p.prmUserName = "anna";
    p.prmPass = prmPassword;
    p.prmDomain = "CORP";
    p.prmHeight = -1;
    return BuildRdpFileText(p, CryptRDPPassword(prmPassword));
  }

  std::string m_Rec;
  std::string m_Fake;
};

TEST_F(Mstsc, HandsFileAndCredentialsToClientWithPasswordOnlyOnStdin) {
  std::string file = WriteRdp(SignedInFile("s3cr\xC3\xA9t"));
  EXPECT_EQ(Run("/admin '" + file + "'"), 3);  // the client's own exit code

  std::vector<std::string> argv = Lines(ReadText(m_Rec + "/argv"));
  ASSERT_EQ(argv.size(), 4u);
  const std::string copy = argv[0];
  EXPECT_NE(copy, file);
  EXPECT_EQ(std::filesystem::path(copy).filename(), "desk:3390.rdp");
  EXPECT_EQ(argv[1], "/admin");
  EXPECT_EQ(argv[2], "/cert:ignore");
  EXPECT_EQ(argv[3], "/from-stdin:force");
  EXPECT_EQ(ReadText(m_Rec + "/stdin"), "anna\nCORP\ns3cr\xC3\xA9t\n");

  // The client's copy carries the connection but no sign-in entries, and is gone afterwards.
  std::string seen = ReadText(m_Rec + "/file");
  EXPECT_NE(seen.find("full address:s:127.0.0.1:41234\r\n"), std::string::npos);
  for (const char* absent : {"username", "domain", "password", "s3cr"})
    EXPECT_EQ(seen.find(absent), std::string::npos) << absent;
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(copy).parent_path()));
  EXPECT_TRUE(std::filesystem::exists(file));  // the control's file is the control's to delete
}

TEST_F(Mstsc, ReadsUtf16FilesAndRunsWithoutAdmin) {
  std::string file = WriteRdp("\xFF\xFE" + Utf8ToUtf16LE("full address:s:127.0.0.1:5000\r\n"
                                                         "username:s:J\xC3\xB6rg\r\n"));
  EXPECT_EQ(Run("'" + file + "'"), 3);
  std::vector<std::string> argv = Lines(ReadText(m_Rec + "/argv"));
  ASSERT_EQ(argv.size(), 3u);
  EXPECT_EQ(argv[1], "/cert:ignore");
  EXPECT_EQ(ReadText(m_Rec + "/stdin"), "J\xC3\xB6rg\n\n\n");
  EXPECT_NE(ReadText(m_Rec + "/file").find("full address:s:127.0.0.1:5000"), std::string::npos);
}

TEST_F(Mstsc, UnreadablePasswordIsAskedForInsteadOfPassedOn) {
  std::string text = SignedInFile("pw");
  size_t at = text.find("password 51:b:") + 20;
  text[at] = text[at] == 'A' ? 'B' : 'A';
  std::string file = WriteRdp(text);
  EXPECT_EQ(Run("'" + file + "'"), 3);
  EXPECT_EQ(ReadText(m_Rec + "/stdin"), "anna\nCORP\n\n");
  EXPECT_NE(ReadText(m_Rec + "/stderr").find("stored password cannot be read"), std::string::npos);
}

TEST_F(Mstsc, FailuresGiveAMessageAndNonZeroExit) {
  std::string file = WriteRdp(SignedInFile("pw"));
  setenv("VANTREL_XFREERDP", (m_Rec + "/no-such-xfreerdp").c_str(), 1);
  EXPECT_EQ(Run("'" + file + "'"), 127);
  EXPECT_NE(ReadText(m_Rec + "/stderr").find("xfreerdp not found"), std::string::npos);
  setenv("VANTREL_XFREERDP", m_Fake.c_str(), 1);

  EXPECT_EQ(Run(""), 2);
  EXPECT_NE(ReadText(m_Rec + "/stderr").find("usage: vantrel-mstsc [/admin] file.rdp"),
            std::string::npos);
  EXPECT_EQ(Run("'" + file + "' other.rdp"), 2);
  EXPECT_EQ(Run("'" + m_Rec + "/missing.rdp'"), 2);
  EXPECT_NE(ReadText(m_Rec + "/stderr").find("cannot read"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(m_Rec + "/argv"));  // the client never ran
}

TEST_F(Mstsc, RemoteApplicationFileKeepsWhatXfreerdpReadsAndCredentialsOnStdin) {
  TWinAppParams p;
  p.prmAppName = "Text Editor";
  p.prmLocation = "C:\\Windows\\notepad.exe";
  p.prmWorkDir = "C:\\Users";
  p.prmServer = "127.0.0.1";
  p.prmPort = 41235;
  p.prmUserName = "anna";
  p.prmPass = "pw";
  p.prmServerType = APP_SERVER_REMOTE_APP;
  std::string file = WriteRdp(BuildAppRdpFileText(p, CryptRDPPassword("pw")));
  EXPECT_EQ(Run("'" + file + "'"), 3);
  EXPECT_EQ(ReadText(m_Rec + "/stdin"), "anna\n\npw\n");
  std::string seen = ReadText(m_Rec + "/file");
  for (const char* kept :
       {"remoteapplicationmode:i:1\r\n", "remoteapplicationprogram:s:C:\\Windows\\notepad.exe\r\n",
        "remoteapplicationname:s:Text Editor\r\n",
        "remoteapplicationexpandworkingdir:s:C:\\Users\r\n"})
    EXPECT_NE(seen.find(kept), std::string::npos) << kept;
  // xfreerdp refuses a file with a non-numeric integer entry; a remote application has no shell.
  for (const char* dropped : {"remoteapplicationexpandworkingdir:i:", "alternate shell"})
    EXPECT_EQ(seen.find(dropped), std::string::npos) << dropped;
}

}  // namespace
}  // namespace vantrel::test
