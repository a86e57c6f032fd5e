#include <gtest/gtest.h>

#include <string>

#include "config/DbMng.h"
#include "support/LogCapture.h"

namespace vantrel {
namespace {

// How a portal sends plain text: every character one code up, except "-", ".", "[" and "]".
std::string Shifted(std::string_view prmPlain) {
  std::string out;
  for (char c : prmPlain) out += (c == '-' || c == '.' || c == '[' || c == ']') ? c : char(c + 1);
  return out;
}

// All 28 items with values that differ from the initial ones.
const char kFull[] =
    "http://gw/rdp.cab#VERSION=6.1,http://gw/ica.exe;CORP;1;4;1280;1024;3;1111111;"
    "a.dll,*b.dll,;proxy:8080;desk1;11;ostra:9090;1111;1;01;00000;120;300;inst;11;3390;0;2;"
    "3;1;1;1;";

TEST(DbMngLoad, BlankTextOnlySetsTheReadyFlag) {
  for (const char* blank : {"", "   ", "\t\r\n "}) {
    TDBMng db;
    db.Load(blank);
    EXPECT_EQ(db.GetFlagConfig(), 1) << '"' << blank << '"';
    EXPECT_EQ(db.GetOstraInstance(), "default");
    EXPECT_EQ(db.GetRDPPort(), 3389);
    EXPECT_EQ(db.GetKeyboardHook(), 1);
    EXPECT_TRUE(db.GetEnableGUI());
    EXPECT_EQ(db.GetTSAgentURL(), "");
  }
}

TEST(DbMngLoad, PlainStringWithFirstNineItems) {
  TDBMng db;
  db.Load(
      "*http://gw/agent/rdp.cab#VERSION=6.1,http://gw/ica/setup.exe;CORP;1;4;1280;1024;3;"
      "1111111;a.dll,*b.dll,;");
  EXPECT_EQ(db.GetTSAgentURL(), "http://gw/agent/rdp.cab");
  EXPECT_EQ(db.GetTSAgentVersion(), "6.1");
  EXPECT_EQ(db.GetXenAppClientURL(), "http://gw/ica/setup.exe");
  EXPECT_EQ(db.GetDomain(), "CORP");
  EXPECT_TRUE(db.GetSSO());
  EXPECT_EQ(db.GetDefSize(), 4);
  EXPECT_EQ(db.GetDefWidth(), 1280);
  EXPECT_EQ(db.GetDefHeight(), 1024);
  EXPECT_EQ(db.GetDefColorDepth(), 3);
  EXPECT_TRUE(db.GetAllowRedirConfig());
  EXPECT_TRUE(db.GetRedirDrives() && db.GetRedirPrinters() && db.GetRedirPorts() &&
              db.GetRedirSmartCards() && db.GetRedirClipboard() && db.GetRedirPOS());
  ASSERT_EQ(db.GetPluginsCount(), 2);
  EXPECT_EQ(db.GetPluginName(0), "a.dll");
  EXPECT_FALSE(db.IsPluginReq(0));
  EXPECT_EQ(db.GetPluginName(1), "b.dll");
  EXPECT_TRUE(db.IsPluginReq(1));
  // Items 10 and later were absent.
  EXPECT_EQ(db.GetAgentProxy(), "");
  EXPECT_EQ(db.GetOstraServer(), "");
  EXPECT_TRUE(db.GetEnableGUI());
  EXPECT_EQ(db.GetRDPPort(), 3389);
  EXPECT_EQ(db.GetKeyboardHook(), 1);
  EXPECT_EQ(db.GetAudioMode(), 0);
  EXPECT_EQ(db.GetOstraInstance(), "default");
  EXPECT_EQ(db.GetFlagConfig(), 1);
}

void ExpectFull(const TDBMng& db) {
  EXPECT_EQ(db.GetTSAgentURL(), "http://gw/rdp.cab");
  EXPECT_EQ(db.GetAgentProxy(), "proxy:8080");
  EXPECT_EQ(db.GetXenAppProxy(), "proxy:8080");
  EXPECT_EQ(db.GetDefHost(), "desk1");
  EXPECT_TRUE(db.OstraEnabled());
  EXPECT_TRUE(db.AllowCustomDest());
  EXPECT_EQ(db.GetOstraServer(), "ostra:9090");
  EXPECT_TRUE(db.GetStartupoptions() && db.GetAutoStart() && db.GetAutoClose() &&
              db.GetHideOnConnect());
  EXPECT_TRUE(db.GetAllowConnectToConsole());
  EXPECT_FALSE(db.GetEnableGUI());
  EXPECT_TRUE(db.GetEnablePowerMng());
  EXPECT_FALSE(db.GetBitmapCache() || db.GetWallpaper() || db.GetFullWindowDrag() ||
               db.GetMenuAnim() || db.GetTheme());
  EXPECT_EQ(db.GetIdleAlert(), 120);
  EXPECT_EQ(db.GetLifetimeAlert(), 300);
  EXPECT_EQ(db.GetOstraInstance(), "inst");
  EXPECT_TRUE(db.GetAutoLaunchSingleDesktop() && db.GetAutoLogoutSingleDesktop());
  EXPECT_EQ(db.GetRDPPort(), 3390);
  EXPECT_EQ(db.GetKeyboardHook(), 0);
  EXPECT_EQ(db.GetAudioMode(), 2);
  EXPECT_TRUE(db.GetIOSKeyboardPreview() && db.GetMonitorSpan() && db.GetHideConnectionBar());
  EXPECT_EQ(db.GetFlagConfig(), 1);
}

TEST(DbMngLoad, AllItemsPlainAndShifted) {
  TDBMng plain;
  plain.Load(std::string("*") + kFull);
  ExpectFull(plain);

  TDBMng shifted;
  shifted.Load(Shifted(kFull));
  ExpectFull(shifted);
  // "," goes out as "-", which is one of the four characters kept as they are: shifted text
  // cannot carry a "," (nor "Z" or a backslash, which arrive as "[" and "]").
  EXPECT_EQ(shifted.GetTSAgentVersion(), "6.1-http://gw/ica.exe");
  EXPECT_EQ(shifted.GetXenAppClientURL(), "");
  EXPECT_EQ(shifted.GetPluginsCount(), 0);
  shifted.Load(Shifted(";Z\\,;"));
  EXPECT_EQ(shifted.GetDomain(), "[]-");
}

TEST(DbMngLoad, ShiftingKeepsFourCharactersAndWorksOnCharacters) {
  TDBMng db;
  // "2" becomes "1" and "<" the item terminator.
  db.Load("<b-c.d[e]<2<");
  EXPECT_EQ(db.GetDomain(), "a-b.c[d]");
  EXPECT_TRUE(db.GetSSO());

  // Non-ASCII text: U+00EA arrives for U+00E9, U+10000 for U+FFFF.
  db.Load("<\xC3\xAA\xF0\x90\x80\x80<");
  EXPECT_EQ(db.GetDomain(), "\xC3\xA9\xEF\xBF\xBF");

  // Nothing shifts out of valid UTF-8: U+0000, U+E000 (would become a surrogate) and malformed
  // bytes each give U+FFFD.
  const std::string replacement = "\xEF\xBF\xBD";
  db.Load(std::string("<", 1) + std::string("\0", 1) + "\xEE\x80\x80" + "\xFF\xC3" + "b<");
  EXPECT_EQ(db.GetDomain(), replacement + replacement + replacement + replacement + "a");
  db.Load("*;\xED\xA0\x80\xC0\xAF;");  // an encoded surrogate and an overlong "/"
  EXPECT_EQ(db.GetDomain(), replacement + replacement + replacement + replacement + replacement);

  // A shifted string keeps its first "*"-less character: "+" is "*" sent shifted.
  db.Load("+<");
  EXPECT_EQ(db.GetTSAgentURL(), "*");
}

TEST(DbMngLoad, RedirectionItemWithSixOrSevenCharacters) {
  struct TCase {
    const char* Cfg;
    bool POS;
  };
  for (const TCase& c : {TCase{"*;;;;;;;111111;1,;", false}, TCase{"*;;;;;;;1111111;", true},
                         TCase{"*;;;;;;;1111110;", false}, TCase{"*;;;;;;;1111112;", false},
                         TCase{"*;;;;;;;11111111111;", true}}) {
    TDBMng db;
    db.SetRedir(false, false, false, false, false, !c.POS);
    db.Load(c.Cfg);
    EXPECT_EQ(db.GetRedirPOS(), c.POS) << c.Cfg;
    EXPECT_TRUE(db.GetRedirClipboard()) << c.Cfg;
  }
  // Short items: missing positions are false; a character other than "1" is false.
  TDBMng db;
  db.SetRedir(true, true, true, true, true, true);
  db.Load("*;;;;;;;1x1;");
  EXPECT_TRUE(db.GetAllowRedirConfig());
  EXPECT_FALSE(db.GetRedirDrives());
  EXPECT_TRUE(db.GetRedirPrinters());
  EXPECT_FALSE(db.GetRedirPorts() || db.GetRedirSmartCards() || db.GetRedirClipboard() ||
               db.GetRedirPOS());
  // Flags count characters, not bytes.
  db.Load(
      "*;;;;;;;\xC3\xA9"
      "1;");
  EXPECT_FALSE(db.GetAllowRedirConfig());
  EXPECT_TRUE(db.GetRedirDrives());
}

TEST(DbMngLoad, IntegerItemsAndTheirFallbacks) {
  TDBMng db;
  db.Load("*;;;2;800;600;4;;;;;;;;;;;77;88;;;1;1;1;1;");
  EXPECT_EQ(db.GetDefSize(), 2);
  EXPECT_EQ(db.GetIdleAlert(), 77);
  // Not integers: items 4-7 keep their values, the others take their fallbacks.
  db.Load("*;;;x;8OO;6 ;;;;;;;;;;;;abc;;;;port;hook;audio;level;");
  EXPECT_EQ(db.GetDefSize(), 2);
  EXPECT_EQ(db.GetDefWidth(), 800);
  EXPECT_EQ(db.GetDefHeight(), 600);
  EXPECT_EQ(db.GetDefColorDepth(), 4);
  EXPECT_EQ(db.GetIdleAlert(), 0);
  EXPECT_EQ(db.GetLifetimeAlert(), 0);
  EXPECT_EQ(db.GetOstraInstance(), "default");
  EXPECT_EQ(db.GetRDPPort(), 3389);
  EXPECT_EQ(db.GetKeyboardHook(), 2);
  EXPECT_EQ(db.GetAudioMode(), 1);
  EXPECT_EQ(db.GetAuthenticationLevel(), 0);
  // Sign and leading blanks are accepted; out-of-range numbers are not integers.
  db.Load("*;;;+3; -5;99999999999;;;;;;;;;;;;;;;;-1;");
  EXPECT_EQ(db.GetDefSize(), 3);
  EXPECT_EQ(db.GetDefWidth(), -5);
  EXPECT_EQ(db.GetDefHeight(), 600);
  EXPECT_EQ(db.GetRDPPort(), -1);
}

TEST(DbMngLoad, OnlySeparators) {
  // Every item empty over a full load: texts empty, flags false, integer items 4-7 kept, the
  // other integer items and the instance at their fallbacks, plug-ins kept.
  TDBMng db;
  db.Load(std::string("*") + kFull);
  db.Load("*" + std::string(40, ';'));
  EXPECT_EQ(db.GetTSAgentURL(), "");
  EXPECT_EQ(db.GetTSAgentVersion(), "6.1");
  EXPECT_EQ(db.GetDomain(), "");
  EXPECT_EQ(db.GetAgentProxy(), "");
  EXPECT_EQ(db.GetOstraServer(), "");
  EXPECT_FALSE(db.GetSSO() || db.GetAllowRedirConfig() || db.GetRedirPOS() || db.OstraEnabled() ||
               db.GetAutoStart() || db.GetAllowConnectToConsole() || db.GetEnableGUI() ||
               db.GetEnablePowerMng() || db.GetBitmapCache() || db.GetAutoLaunchSingleDesktop() ||
               db.GetIOSKeyboardPreview() || db.GetMonitorSpan() || db.GetHideConnectionBar());
  EXPECT_EQ(db.GetPluginsCount(), 2);
  EXPECT_EQ(db.GetDefSize(), 4);
  EXPECT_EQ(db.GetDefWidth(), 1280);
  EXPECT_EQ(db.GetDefHeight(), 1024);
  EXPECT_EQ(db.GetDefColorDepth(), 3);
  EXPECT_EQ(db.GetIdleAlert(), 0);
  EXPECT_EQ(db.GetLifetimeAlert(), 0);
  EXPECT_EQ(db.GetOstraInstance(), "default");
  EXPECT_EQ(db.GetRDPPort(), 3389);
  EXPECT_EQ(db.GetKeyboardHook(), 2);
  EXPECT_EQ(db.GetAudioMode(), 1);
  EXPECT_EQ(db.GetFlagConfig(), 1);

  // Unshifted ";" is the shifted form of ":", so such a string has no item at all.
  TDBMng shifted;
  shifted.Load(std::string(40, ';'));
  EXPECT_TRUE(shifted.GetEnableGUI());
  EXPECT_EQ(shifted.GetKeyboardHook(), 1);
  EXPECT_EQ(shifted.GetFlagConfig(), 1);
}

TEST(DbMngLoad, MissingItemsKeepTheirValues) {
  TDBMng db;
  db.Load(std::string("*") + kFull);
  // Three items, the third without its terminator: only the first two are read.
  db.Load("*http://other/x.msi;DOM;0");
  EXPECT_EQ(db.GetTSAgentURL(), "http://other/x.msi");
  EXPECT_EQ(db.GetTSAgentVersion(), "6.1");  // no "#VERSION=": the version stays
  EXPECT_EQ(db.GetXenAppClientURL(), "http://gw/ica.exe");
  EXPECT_EQ(db.GetDomain(), "DOM");
  EXPECT_TRUE(db.GetSSO());
  EXPECT_EQ(db.GetRDPPort(), 3390);
  // A string without any terminator still completes the load.
  TDBMng none;
  none.Load("*no terminator at all");
  EXPECT_EQ(none.GetTSAgentURL(), "");
  EXPECT_EQ(none.GetFlagConfig(), 1);
}

TEST(DbMngLoad, AgentInformationVariants) {
  struct TCase {
    const char* Item;
    const char* Url;
    const char* Version;
    const char* Citrix;
  };
  const TCase cases[] = {
      {"http://a/b.CAB", "http://a/b.CAB", "", ""},
      {"http://a/b.cab#version=7.0", "http://a/b.cab", "7.0", ""},
      {"#VERSION=", "", "", ""},
      {"http://a,http://c/1,2", "http://a", "", "http://c/1,2"},
      // The "," comes first, so the version marker belongs to the Citrix URL.
      {"http://a,c#VERSION=3", "http://a", "", "c#VERSION=3"},
      {"u#VERSION=1#VERSION=2", "u", "1#VERSION=2", ""},
      {",", "", "", ""},
  };
  for (const TCase& c : cases) {
    TDBMng db;
    db.Load(std::string("*") + c.Item + ";");
    EXPECT_EQ(db.GetTSAgentURL(), c.Url) << c.Item;
    EXPECT_EQ(db.GetTSAgentVersion(), c.Version) << c.Item;
    EXPECT_EQ(db.GetXenAppClientURL(), c.Citrix) << c.Item;
  }
}

TEST(DbMngLoad, PluginScannerStaysInsideItsItem) {
  TDBMng db;
  db.Load("*;;;;;;;;a.dll,,*req.dll,tail;proxy,1,2;host,x;");
  ASSERT_EQ(db.GetPluginsCount(), 3);  // "tail" has no "," and is dropped
  EXPECT_EQ(db.GetPluginName(0), "a.dll");
  EXPECT_EQ(db.GetPluginName(1), "");
  EXPECT_EQ(db.GetPluginName(2), "req.dll");
  EXPECT_TRUE(db.IsPluginReq(2));
  EXPECT_EQ(db.GetAgentProxy(), "proxy,1,2");
  EXPECT_EQ(db.GetDefHost(), "host,x");
  for (int bad : {-1, 3, 1000}) {
    EXPECT_EQ(db.GetPluginName(bad), "");
    EXPECT_FALSE(db.IsPluginReq(bad));
  }
  // A second load appends to the list.
  db.Load("*;;;;;;;;c.dll,;");
  EXPECT_EQ(db.GetPluginsCount(), 4);
  EXPECT_EQ(db.GetPluginName(3), "c.dll");
  // An unterminated item 9 adds nothing.
  db.Load("*;;;;;;;;d.dll,e.dll,");
  EXPECT_EQ(db.GetPluginsCount(), 4);
  // A lone "*" is a required plug-in with an empty name.
  db.Load("*;;;;;;;;*,;");
  EXPECT_EQ(db.GetPluginName(4), "");
  EXPECT_TRUE(db.IsPluginReq(4));
}

TEST(DbMngLoad, HugeInputStaysLinear) {
  // Hundreds of thousands of plug-in names, a long agent URL and a long shifted string; a scanner
  // that re-copies the remaining text per name would take minutes here.
  std::string plugins;
  for (int i = 0; i < 200000; ++i) plugins += "p,";
  TDBMng db;
  db.Load("*" + std::string(1 << 20, 'u') + ";;;;;;;;" + plugins + ";");
  EXPECT_EQ(db.GetTSAgentURL().size(), size_t{1} << 20);
  EXPECT_EQ(db.GetPluginsCount(), 200000);

  TDBMng shifted;
  shifted.Load(std::string(1 << 20, '<'));
  EXPECT_FALSE(shifted.GetEnableGUI());
  EXPECT_EQ(shifted.GetFlagConfig(), 1);
}

TEST(DbMngLoad, LogsTheEndOfALoad) {
  test::TLogCapture log;
  TDBMng db;
  db.Load("  ");
  EXPECT_FALSE(log.Contains("Load:configstr: finished"));
  db.Load("*;");
  EXPECT_TRUE(log.HasLine("Load:configstr: finished"));
}

}  // namespace
}  // namespace vantrel
