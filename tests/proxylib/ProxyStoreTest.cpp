// Proxy.ini: its text format, its place and permissions, and the saved credentials in it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/DataProtection.h"
#include "proxylib/ProxyCredentials.h"
#include "proxylib/ProxyIni.h"
#include "support/TestEnv.h"

namespace vantrel::proxylib {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& prmPath, const std::string& prmText) {
  std::ofstream(prmPath, std::ios::binary | std::ios::trunc) << prmText;
}

unsigned Mode(const std::string& prmPath) {
  struct stat st {};
  EXPECT_EQ(lstat(prmPath.c_str(), &st), 0) << prmPath;
  return st.st_mode & 0777;
}

class ProxyStore : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(ProxyIniPath().substr(0, ProxyIniPath().rfind('/'))); }
};

TEST(ProxyIniText, ReadsByItsLineRules) {
  const struct {
    const char* Text;
    const char* Formatted;  // what the entries kept write back as
  } cases[] = {
      {"[S]\r\nk=v\r\n", "[S]\r\nk=v\r\n"},
      {"[S]\nb=2\na=1\n", "[S]\r\na=1\r\nb=2\r\n"},
      {"[B]\nx=1\n[A]\ny=2\n", "[A]\r\ny=2\r\n[B]\r\nx=1\r\n"},
      {"k=before\n[S]\n;k=comment\n k2 =  v w \n", "[S]\r\n k2 =v w \r\n"},
      {"[S]\n=v\nempty=\nblank=  \nk=a=b\n", "[S]\r\nk=a=b\r\n"},
      {"[S]\nk=v", "[S]\r\nk=v\r\n"},             // truncated: no line end
      {"[S", ""},                                 // truncated section header
      {"[S]\nk=1\n[T\nj=2\n", "[S]\r\nk=1\r\n"},  // a damaged header ends the section
      {"[\x01\xff]\n\xfe=\x80\n\x02\n", "[\x01\xff]\r\n\xfe=\x80\r\n"},  // bytes pass as they are
  };
  for (const auto& c : cases) EXPECT_EQ(FormatIni(ParseIni(c.Text)), c.Formatted) << c.Text;
}

TEST_F(ProxyStore, ValuesReadBackByType) {
  ASSERT_TRUE(CreateProxyIniFile());
  {
    CProxyIni ini;
    ini.WriteInt("S", "n", -42);
    ini.WriteText("S", "t", "text");
    ini.WriteText("S", "e", "");
    ini.WriteText("S", "x", "12abc");
    ini.WriteText("S", "y", "abc");
    ini.WriteText("S", "nl", "a\r\nb=c");
    ASSERT_TRUE(ini.Save());
  }
  EXPECT_EQ(ReadAll(ProxyIniPath()),
            "[S]\r\ne=\r\nn=-42\r\nnl=a\r\nt=text\r\nx=12abc\r\ny=abc\r\n");
  CProxyIni ini;
  EXPECT_EQ(ini.ReadInt("S", "n", 7), -42);
  EXPECT_EQ(ini.ReadInt("S", "x", 7), 12);
  EXPECT_EQ(ini.ReadInt("S", "y", 7), 0);
  EXPECT_EQ(ini.ReadInt("S", "e", 7), 7) << "a key written empty reads as absent";
  EXPECT_EQ(ini.ReadInt("T", "n", 7), 7);
  EXPECT_EQ(ini.ReadText("S", "t", "d", 2), "te");
  EXPECT_EQ(ini.ReadText("S", "e", "d", 10), "d");
}

TEST(ProxyIniPlace, LowFolderOnlyOnNewerSystems) {
  const std::string user = "VPN-" + std::to_string(geteuid());
  const struct {
    const char* Temp;
    int OSCode;
    std::string Want;
  } cases[] = {
      {"/t/Temp/", 4, "/t/Temp/Low/" + user},   {"/t/Temp", 7, "/t/Temp/Low/" + user},
      {"/t/LOWTemp/", 4, "/t/LOWTemp/" + user}, {"/t/Temp/", 3, "/t/Temp/" + user},
      {"/t/Temp/", -1, "/t/Temp/" + user},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProxyIniDir(c.Temp, c.OSCode), c.Want) << c.Temp << c.OSCode;
  EXPECT_EQ(ProxyIniPath(), test::TestRoot() + "/tmp/" + user + "/Proxy.ini");
}

TEST_F(ProxyStore, FileAndFolderArePrivateToTheirOwner) {
  std::string path = ProxyIniPath();
  std::string dir = path.substr(0, path.rfind('/'));
  ASSERT_TRUE(CreateProxyIniFile());
  EXPECT_EQ(Mode(dir), 0700u);
  EXPECT_EQ(Mode(path), 0600u);
  chmod(dir.c_str(), 0755);
  chmod(path.c_str(), 0644);
  ASSERT_TRUE(CreateProxyIniFile());
  EXPECT_EQ(Mode(dir), 0700u);
  EXPECT_EQ(Mode(path), 0600u);
  CProxyIni ini;
  ini.WriteText("S", "k", "v");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(Mode(path), 0600u);

  // A folder or file planted as a link is never followed.
  fs::remove_all(dir);
  fs::create_directories(test::TestRoot() + "/elsewhere");
  fs::create_directory_symlink(test::TestRoot() + "/elsewhere", dir);
  EXPECT_FALSE(CreateProxyIniFile());
  fs::remove(dir);
  fs::create_directories(dir);
  fs::create_symlink(test::TestRoot() + "/elsewhere/target", path);
  EXPECT_FALSE(CreateProxyIniFile());
  EXPECT_FALSE(fs::exists(test::TestRoot() + "/elsewhere/target"));
}

TEST_F(ProxyStore, CredentialsRoundTripWithTheirPasswordProtected) {
  std::string u, p, d;
  EXPECT_FALSE(GetProxyInfo(u, p, d)) << "nothing saved yet";
  const struct {
    const char *User, *Password, *Domain;
    bool Found;
  } cases[] = {
      {"alice", "s3cr=t;\xc3\xa9", "CORP", true},
      {"bob", "", "", true},
      {"", "pw-1!", "", true},  // never Base64 text by chance
      {"", "", "CORP", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(SaveProxyInfo(c.User, c.Password, c.Domain));
    if (*c.Password) {
      EXPECT_EQ(ReadAll(ProxyIniPath()).find(c.Password), std::string::npos) << "never in clear";
    }
    EXPECT_EQ(GetProxyInfo(u, p, d), c.Found) << c.User;
    if (c.Found) {
      EXPECT_EQ(u + "|" + p + "|" + d, std::string(c.User) + "|" + c.Password + "|" + c.Domain);
    }
  }
}

TEST_F(ProxyStore, AStoreNotPrivateToThisUserReadsAsNothingSaved) {
  const std::string path = ProxyIniPath(), dir = path.substr(0, path.rfind('/'));
  const std::string planted = "[OUTSIDE_PROXY_CONFIG]\r\nUserName=mallory\r\nDomain=EVIL\r\n";
  const struct {
    const char* Name;
    unsigned DirMode;
    uid_t DirOwner, FileOwner;
    bool FileIsLink;
  } cases[] = {
      {"another user's folder in a shared /tmp", 0777, 65534, 65534, false},
      {"our folder open to everyone", 0777, geteuid(), geteuid(), false},
      {"another user's file in our folder", 0700, geteuid(), 65534, false},
      {"a link in place of the file", 0700, geteuid(), geteuid(), true},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string target = c.FileIsLink ? test::TestRoot() + "/planted.ini" : path;
    WriteAll(target, planted);
    chmod(target.c_str(), 0600);
    if (c.FileIsLink) fs::create_symlink(target, path);
    ASSERT_EQ(chown(target.c_str(), c.FileOwner, c.FileOwner), 0) << "chown needs root";
    ASSERT_EQ(chmod(dir.c_str(), c.DirMode), 0);
    ASSERT_EQ(chown(dir.c_str(), c.DirOwner, c.DirOwner), 0);
    std::string u, p, d;
    EXPECT_FALSE(GetProxyInfo(u, p, d)) << c.Name;
    EXPECT_EQ(u + d, "") << c.Name;
  }
}

TEST_F(ProxyStore, DamagedOrForeignPasswordsReadAsEmpty) {
  ASSERT_TRUE(SaveProxyInfo("alice", "pw", "D"));
  std::string good = ReadAll(ProxyIniPath());
  std::string u, p, d;
  for (const std::string& stored :
       {std::string("not base64!"), std::string("QUJD"), std::string("")}) {
    std::string text = good;
    size_t at = text.find("PassWord=") + 9;
    text.replace(at, text.find('\r', at) - at, stored);
    WriteAll(ProxyIniPath(), text);
    EXPECT_TRUE(GetProxyInfo(u, p, d)) << stored;
    EXPECT_EQ(p, "") << stored;
  }
  WriteAll(ProxyIniPath(), good);
  fs::remove(DataProtectionKeyPath());  // another user's key, as far as this blob can tell
  EXPECT_TRUE(GetProxyInfo(u, p, d));
  EXPECT_EQ(p, "");
  WriteAll(ProxyIniPath(), good.substr(0, good.size() / 2));
  EXPECT_NO_FATAL_FAILURE(GetProxyInfo(u, p, d));
}

}  // namespace
}  // namespace vantrel::proxylib
