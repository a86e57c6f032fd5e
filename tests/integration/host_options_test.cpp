// The host's command line: how the start-parameter bag is assembled from the file and the
// --param options, and that mistakes are refused with a message instead of being guessed at.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "diag/Exceptions.h"
#include "host/vantreltcs/HostOptions.h"
#include "platform/Settings.h"

namespace vantrel::test {
namespace {

using host::ParseHostOptions;
using host::THostOptions;

std::string WriteFile(const std::string& prmName, const std::string& prmText) {
  std::string path = TempDir() + "/" + prmName;
  std::ofstream(path, std::ios::binary) << prmText;
  return path;
}

std::string Value(THostOptions prmOptions, const std::string& prmName) {
  std::string v;
  return prmOptions.Bag.Read(prmName, v) ? v : "<absent>";
}

std::string Failure(const std::vector<std::string>& prmArgs) {
  try {
    ParseHostOptions(prmArgs);
  } catch (const EBaseException& e) {
    return e.GetMsg();
  }
  return "<accepted>";
}

TEST(HostOptions, FileLinesThenParamsInOrderLaterValuesWin) {
  std::string file = WriteFile("page.params",
                               "# portal start parameters\n"
                               "  platform = Morv\r\n"
                               "\n"
                               "sp_port=443\n"
                               "config_str=a=1;b=2\n"
                               "custom_portal=0\n"
                               "   # indented comment\n"
                               "sp_name=");
  // --param given before --params still follows the file.
  THostOptions o =
      ParseHostOptions({"--param", "custom_portal=1", "--params", file, "--param", "sp_port=8443",
                        "--param", "sp_port=9443", "--api", "stdio", "--ui", "none"});
  EXPECT_EQ(Value(o, "platform"), "Morv");       // name and value trimmed with the line
  EXPECT_EQ(Value(o, "config_str"), "a=1;b=2");  // only the first '=' separates
  EXPECT_EQ(Value(o, "sp_name"), "");            // present with an empty value
  EXPECT_EQ(Value(o, "custom_portal"), "1");
  EXPECT_EQ(Value(o, "sp_port"), "9443");
  // A value given on the command line is kept exactly, spaces included.
  EXPECT_EQ(Value(ParseHostOptions({"--param", "dest_host= desk "}), "dest_host"), " desk ");
  EXPECT_EQ(Value(o, "hidedesks"), "<absent>");
  EXPECT_EQ(o.Api, host::TApiKind::Stdio);
  EXPECT_EQ(o.Ui, host::TUiKind::None);
}

TEST(HostOptions, DefaultsWithoutArguments) {
  THostOptions o = ParseHostOptions({});
  EXPECT_EQ(o.Api, host::TApiKind::None);
  EXPECT_EQ(o.Ui, host::TUiKind::Terminal);
  EXPECT_FALSE(o.Help);
  EXPECT_EQ(Value(o, "platform"), "<absent>");
}

TEST(HostOptions, MistakesAreRefusedWithTheirPlace) {
  std::string bad = WriteFile("bad.params", "platform=Morv\n\njust a line\n");
  EXPECT_NE(Failure({"--params", bad}).find("line 3"), std::string::npos);
  EXPECT_NE(Failure({"--param", "=value"}).find("NAME=VALUE"), std::string::npos);
  EXPECT_NE(Failure({"--param", "novalue"}).find("NAME=VALUE"), std::string::npos);
  EXPECT_EQ(Failure({"--param", "SPCookies:SECRET"}).find("SECRET"), std::string::npos);
  EXPECT_EQ(Failure({"--param"}), "--param needs a value");
  EXPECT_EQ(Failure({"--api", "http"}), "--api knows only stdio");
  EXPECT_EQ(Failure({"--ui", "qt"}), "--ui must be gtk, terminal or none");
  EXPECT_EQ(Failure({"--verbose"}), "unknown option --verbose");
  EXPECT_NE(Failure({"--params", TempDir() + "/missing.params"}).find("cannot read"),
            std::string::npos);
  // A directory or a huge file is not a parameter file.
  EXPECT_NE(Failure({"--params", TempDir()}), "<accepted>");
  std::string big = WriteFile("big.params", std::string((1 << 20) + 10, '#'));
  EXPECT_NE(Failure({"--params", big}).find("too large"), std::string::npos);
}

// The browsers start their native-messaging host with their own arguments; only those exact
// forms select it, and nothing is read from them as a session.
TEST(HostOptions, TheBrowsersCommandLinesSelectNativeMessaging) {
  const std::string chromium = host::kChromiumExtensionOrigin;
  const std::string manifest = "/usr/lib/mozilla/native-messaging-hosts/com.vantrel.tcs.json";
  const struct {
    std::vector<std::string> Args;
    const char* Browser;  // empty: not a browser's start
    std::string Caller;
  } cases[] = {
      {{chromium}, "Chromium", chromium},
      {{chromium, "--parent-window=0"}, "Chromium", chromium},
      {{manifest, host::kFirefoxExtensionId}, "Firefox", host::kFirefoxExtensionId},
      {{chromium, "--api"}, "", ""},
      {{"manifest.json", "tcs@x"}, "", ""},
      {{manifest, "--ui"}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
    THostOptions o;
    try {
      o = ParseHostOptions(c.Args, true);
    } catch (const EBaseException&) {
    }
    EXPECT_EQ(o.Browser, c.Browser);
    EXPECT_EQ(o.Caller, c.Caller);
    EXPECT_EQ(o.Api == host::TApiKind::Native, *c.Browser != '\0');
  }
  EXPECT_TRUE(ParseHostOptions({"--register-browsers"}).RegisterBrowsers);
}

}  // namespace
}  // namespace vantrel::test
