// A browser's session file or vantrel: URL on the host's command line: what is accepted, what
// is refused and whether the file (it holds the portal's cookie) is gone afterwards. No message
// may repeat a value.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "diag/Exceptions.h"
#include "host/vantreltcs/HostOptions.h"
#include "platform/Settings.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

constexpr char kCookie[] = "SECRET-COOKIE";

struct TSourceCase {
  const char* Name;
  // Makes the session source in prmDir and returns the argument for the command line.
  std::function<std::string(const std::string& prmDir)> Make;
  const char* Refusal;  // part of the message; nullptr: accepted
  bool FileLeft;        // the file named by the argument still exists afterwards
  const char* Cookie;   // SPCookies when accepted
};

std::string Write(const std::string& prmPath, const std::string& prmText) {
  std::ofstream(prmPath, std::ios::binary) << prmText;
  return prmPath;
}

const std::string kGood = std::string("# from the portal\r\nplatform=Morv\r\n\r\n") +
                          "SPCookies = " + kCookie + "; b=c \r\nsp_port=443";

const TSourceCase kCases[] = {
    {"file", [](const std::string& d) { return Write(d + "/s.vantrel", kGood); }, nullptr, false,
     "SECRET-COOKIE; b=c"},
    {"file URL",
     [](const std::string& d) {
       Write(d + "/a b.vantrel", kGood);
       return "file://" + d + "/a%20b.vantrel";
     },
     nullptr, false, "SECRET-COOKIE; b=c"},
    {"symbolic link",
     [](const std::string& d) {
       fs::create_symlink(Write(d + "/t.vantrel", kGood), d + "/s.vantrel");
       return d + "/s.vantrel";
     },
     "symbolic link", true, nullptr},
    {"hard link",
     [](const std::string& d) {
       fs::create_hard_link(Write(d + "/t.vantrel", kGood), d + "/s.vantrel");
       return d + "/s.vantrel";
     },
     "hard link", true, nullptr},
    {"not ours",
     [](const std::string& d) {
       std::string p = Write(d + "/s.vantrel", kGood);
       if (chown(p.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown needs root";
       return p;
     },
     "another user", true, nullptr},
    {"fifo",
     [](const std::string& d) {
       mkfifo((d + "/s.vantrel").c_str(), 0600);
       return d + "/s.vantrel";
     },
     "not a regular file", true, nullptr},
    {"wrong name", [](const std::string& d) { return Write(d + "/s.txt", kGood); },
     "must end in .vantrel", true, nullptr},
    {"too large",
     [](const std::string& d) {
       return Write(d + "/s.vantrel", "sp_name=" + std::string(70000, 'x') + "\n");
     },
     "too large", false, nullptr},
    {"unknown name",
     [](const std::string& d) { return Write(d + "/s.vantrel", kGood + "\ncookie\x01=x\n"); },
     "line 6: unknown parameter name \"cookie?\"", false, nullptr},
    {"name with a blank",
     [](const std::string& d) {
       return Write(d + "/s.vantrel", std::string("SPCookies ") + kCookie + "=x\n");
     },
     "line 1: unknown parameter name (not shown: it contains a blank)", false, nullptr},
    {"long name",
     [](const std::string& d) {
       return Write(d + "/s.vantrel", std::string(32, 'n') + kCookie + "=x\n");
     },
     "line 1: unknown parameter name \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...\"", false, nullptr},
    {"repeated name",
     [](const std::string& d) { return Write(d + "/s.vantrel", kGood + "\nplatform=Pelx\n"); },
     "parameter platform is given more than once", false, nullptr},
    {"control character",
     [](const std::string& d) {
       return Write(d + "/s.vantrel", std::string("SPCookies=") + kCookie + "\x1b[2J\n");
     },
     "value of SPCookies holds a control character", false, nullptr},
    {"not a pair", [](const std::string& d) { return Write(d + "/s.vantrel", kCookie); },
     "line 1: expected NAME=VALUE", false, nullptr},
    {"URL",
     [](const std::string&) {
       return std::string("VANTREL:?sp_name=gw&&SPCookies=") + kCookie + "%3B%20a%3Db+c";
     },
     nullptr, false, "SECRET-COOKIE; a=b+c"},
    {"URL broken escape",
     [](const std::string&) { return std::string("vantrel:?SPCookies=") + kCookie + "%4"; },
     "broken %-escape", false, nullptr},
    {"URL bad hex",
     [](const std::string&) { return std::string("vantrel:?SPCookies=%zz") + kCookie; },
     "broken %-escape", false, nullptr},
    {"URL control character",
     [](const std::string&) { return std::string("vantrel:?SPCookies=") + kCookie + "%0A"; },
     "control character", false, nullptr},
    {"URL unknown name",
     [](const std::string&) { return std::string("vantrel:?sp_name=gw&cmd=") + kCookie; },
     "parameter 2: unknown parameter name \"cmd\"", false, nullptr},
    {"URL name with a blank",
     [](const std::string&) { return std::string("vantrel:?SPCookies%20") + kCookie + "=x"; },
     "parameter 1: unknown parameter name (not shown: it contains a blank)", false, nullptr},
    {"URL repeated name",
     [](const std::string&) { return std::string("vantrel:?sp_port=1&sp_port=2"); },
     "given more than once", false, nullptr},
    {"URL without query", [](const std::string&) { return std::string("vantrel://gw/") + kCookie; },
     "has the form vantrel:?", false, nullptr},
};

TEST(HostSessionSource, FilesAndUrlsAreReadStrictlyAndTheFileIsConsumed) {
  int n = 0;
  for (const TSourceCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    std::string dir = TempDir() + "/source" + std::to_string(++n);
    fs::create_directories(dir);
    std::string arg = c.Make(dir);
    std::string file = arg.rfind("file://", 0) == 0 ? dir + "/a b.vantrel" : arg;
    std::string message = "<accepted>";
    host::THostOptions o;
    try {
      o = host::ParseHostOptions({"--ui", "none", arg});
    } catch (const EBaseException& e) {
      message = e.GetMsg();
    }
    if (c.Refusal == nullptr) {
      EXPECT_EQ(message, "<accepted>");
      std::string cookie;
      EXPECT_TRUE(o.Bag.Read("SPCookies", cookie));
      EXPECT_EQ(cookie, c.Cookie);
    } else {
      EXPECT_NE(message.find(c.Refusal), std::string::npos) << message;
    }
    EXPECT_EQ(message.find("SECRET"), std::string::npos) << message;
    if (arg.find("vantrel:") == std::string::npos) {
      EXPECT_EQ(fs::exists(fs::symlink_status(file)), c.FileLeft);
    }
  }
}

TEST(HostSessionSource, HelpAndOptionMistakesLeaveTheFileInPlace) {
  std::string file = Write(TempDir() + "/kept.vantrel", kGood);
  EXPECT_TRUE(host::ParseHostOptions({file, "--help"}).Help);
  EXPECT_THROW(host::ParseHostOptions({file, "--api", "http"}), EBaseException);
  EXPECT_THROW(host::ParseHostOptions({file, "vantrel:?sp_port=1"}), EBaseException);
  EXPECT_TRUE(fs::exists(file));
}

}  // namespace
}  // namespace vantrel::test
