#include <gtest/gtest.h>

#include <string>

#include "config/DbMng.h"
#include "diag/Exceptions.h"
#include "diag/Xml.h"

namespace vantrel {
namespace {

// Parses "<Settings>" + prmBody + "</Settings>" and loads it into prmDB. The document is kept
// alive for the duration of the load only, as the session manager does.
void LoadSettings(TDBMng& prmDB, const std::string& prmBody) {
  TXmlDoc doc = TXmlDoc::Parse("<Settings>" + prmBody + "</Settings>");
  ASSERT_TRUE(doc.IsValid()) << doc.GetError();
  prmDB.LoadXML(doc.Root());
}

std::string Elem(const std::string& prmName, const std::string& prmText) {
  return "<" + prmName + ">" + prmText + "</" + prmName + ">";
}

struct TFlagElem {
  const char* Name;
  bool (TDBMng::*Get)() const;
  bool IsZero;  // the field becomes true when the text is "0" rather than "1"
};

const TFlagElem kFlags[] = {
    {"customdest", &TDBMng::AllowCustomDest, false},
    {"powermng", &TDBMng::GetEnablePowerMng, false},
    {"bitmapcache", &TDBMng::GetBitmapCache, true},
    {"desktopwall", &TDBMng::GetWallpaper, true},
    {"fullwindowdrag", &TDBMng::GetFullWindowDrag, true},
    {"menuanim", &TDBMng::GetMenuAnim, true},
    {"themes", &TDBMng::GetTheme, true},
    {"sso", &TDBMng::GetSSO, false},
    {"console", &TDBMng::GetAllowConnectToConsole, false},
    {"hideconnbar", &TDBMng::GetHideConnectionBar, false},
    {"span", &TDBMng::GetMonitorSpan, false},
    {"showrdpfile", &TDBMng::GetShowRdpFile, false},
    {"multimon", &TDBMng::GetMultimon, false},
    {"smart_sizing", &TDBMng::GetSmartSizing, false},
    {"credential", &TDBMng::GetEnablecredsspsupport, false},
    {"audiocapturemode", &TDBMng::GetAudiocapturemode, false},
    {"compression", &TDBMng::GetCompression, false},
    {"videoplaybackmode", &TDBMng::GetVideoplaybackmode, false},
    {"allow_font_smoothing", &TDBMng::GetAllowFontSmoothing, false},
    {"allow_desktop_composition", &TDBMng::GetAllowDesktopComposition, false},
    {"disable_cursor_setting", &TDBMng::GetDisableCursorSetting, false},
    {"redirectdirectx", &TDBMng::GetRedirectdirectx, false},
    {"autoreconnection_enabled", &TDBMng::GetAutoreconnectionEnabled, false},
    {"prompt_for_credentials", &TDBMng::GetPromptForCredentials, false},
    {"negotiate_security_layer", &TDBMng::GetNegotiateSecurityLayer, false},
    {"gatewayprofileusagemethod", &TDBMng::GetGatewayprofileusagemethod, false},
    {"promptcredentialonce", &TDBMng::GetPromptcredentialonce, false},
    {"use_redirection_server_name", &TDBMng::GetUseRedirectionServerName, false},
    {"networkautodetect", &TDBMng::GetNetworkautodetect, false},
    {"bandwidthautodetect", &TDBMng::GetBandwidthautodetect, false},
    {"enableworkspacereconnect", &TDBMng::GetEnableworkspacereconnect, false},
    {"disableremoteappcapscheck", &TDBMng::GetDisableremoteappcapscheck, false},
    {"disableconnectionsharing", &TDBMng::GetDisableconnectionsharing, false},
    {"validappsize", &TDBMng::GetVaildAppSize, false},
    {"citrix_independently", &TDBMng::GetIndependently, false},
    {"vdiauth", &TDBMng::GetExtraAuth, false},
};

TEST(DbMngXml, FlagElementsCompareTheirTextExactly) {
  for (const TFlagElem& f : kFlags) {
    const char* on = f.IsZero ? "0" : "1";
    const char* off = f.IsZero ? "1" : "0";
    TDBMng db;
    LoadSettings(db, Elem(f.Name, on));
    EXPECT_TRUE((db.*f.Get)()) << f.Name;
    LoadSettings(db, Elem(f.Name, off));
    EXPECT_FALSE((db.*f.Get)()) << f.Name;
    for (const char* other : {" 1", "1 ", "01", "true", "", " 0", "00"}) {
      LoadSettings(db, Elem(f.Name, on));
      LoadSettings(db, Elem(f.Name, other));
      EXPECT_FALSE((db.*f.Get)()) << f.Name << " '" << other << "'";
    }
    // A missing element leaves the field.
    LoadSettings(db, Elem(f.Name, on));
    LoadSettings(db, "");
    EXPECT_TRUE((db.*f.Get)()) << f.Name;
  }
}

TEST(DbMngXml, TextElements) {
  TDBMng db;
  LoadSettings(db, Elem("rdpagent", "http://gw/a.cab") + Elem("rdpagentproxy", "p:1") +
                       Elem("citrixclient", "http://gw/ica.exe") +
                       Elem("citrixclientproxy", "p:2") + Elem("domain", " CORP "));
  EXPECT_EQ(db.GetTSAgentURL(), "http://gw/a.cab");
  EXPECT_EQ(db.GetAgentProxy(), "p:1");
  EXPECT_EQ(db.GetXenAppClientURL(), "http://gw/ica.exe");
  EXPECT_EQ(db.GetXenAppProxy(), "p:2");
  EXPECT_EQ(db.GetDomain(), " CORP ");
  LoadSettings(db, "<domain/>");
  EXPECT_EQ(db.GetDomain(), "");
  EXPECT_EQ(db.GetTSAgentURL(), "http://gw/a.cab");
}

TEST(DbMngXml, IntegerElementsAndTheirMissingDefaults) {
  TDBMng db;
  db.SetType(2);
  LoadSettings(db, Elem("idlealert", "11") + Elem("keepalive", "0") + Elem("securityrdp", "0") +
                       Elem("lifetimealert", "-12") + Elem("idle_timeout_km_event", "600") +
                       Elem("keyboardhook", "2") + Elem("connection_type", "6") +
                       Elem("gatewayusagemethod", "1") + Elem("gatewaycredentialssource", "0") +
                       Elem("autoreconnect_max_retries", "20") + Elem("authentication_level", "2") +
                       Elem("audiomode", " +1"));
  EXPECT_EQ(db.GetIdleAlert(), 11);
  EXPECT_EQ(db.GetKeepAlive(), 0);
  EXPECT_EQ(db.GetSecurityRDPFlag(), 0);
  EXPECT_EQ(db.GetLifetimeAlert(), -12);
  EXPECT_EQ(db.GetIdleTimeoutKM(), 600);
  EXPECT_EQ(db.GetKeyboardHook(), 2);
  EXPECT_EQ(db.GetConnectionType(), 6);
  EXPECT_EQ(db.GetGatewayusagemethod(), 1);
  EXPECT_EQ(db.GetGatewaycredentialssource(), 0);
  EXPECT_EQ(db.GetAutoreconnectMaxRetries(), 20);
  EXPECT_EQ(db.GetAuthenticationLevel(), 2);
  EXPECT_EQ(db.GetAudioMode(), 1);
  EXPECT_EQ(db.GetFlagConfig(), 1);

  // Nothing sent: some integers fall back, the alerts and the keyboard timeout stay.
  LoadSettings(db, "");
  EXPECT_EQ(db.GetIdleAlert(), 11);
  EXPECT_EQ(db.GetKeepAlive(), -1);
  EXPECT_EQ(db.GetSecurityRDPFlag(), 1);
  EXPECT_EQ(db.GetLifetimeAlert(), -12);
  EXPECT_EQ(db.GetIdleTimeoutKM(), 600);
  EXPECT_EQ(db.GetKeyboardHook(), 1);
  EXPECT_EQ(db.GetConnectionType(), 2);
  EXPECT_EQ(db.GetGatewayusagemethod(), 4);
  EXPECT_EQ(db.GetGatewaycredentialssource(), 4);
  EXPECT_EQ(db.GetAutoreconnectMaxRetries(), 1);
  EXPECT_EQ(db.GetAudioMode(), 0);
  LoadSettings(db, Elem("securityrdp", "0"));  // the level itself fell back to 0 too
  EXPECT_EQ(db.GetAuthenticationLevel(), 0);
}

TEST(DbMngXml, KeyboardIdleTimeoutIsClamped) {
  struct TCase {
    const char* Text;
    int Want;
  };
  for (const TCase& c : {TCase{"5", 30}, TCase{"-7", 30}, TCase{"30", 30}, TCase{"31", 31},
                         TCase{"86400", 86400}, TCase{"100000", 86400}}) {
    TDBMng db;
    LoadSettings(db, Elem("idle_timeout_km_event", c.Text));
    EXPECT_EQ(db.GetIdleTimeoutKM(), c.Want) << c.Text;
  }
}

TEST(DbMngXml, ScreenSize) {
  struct TCase {
    std::string Text;
    int Size, Width, Height;  // the store starts from 2 / 800 / 600
  };
  const TCase cases[] = {
      {"1024X768", 4, 1024, 768},
      {"0X768", 0, 0, 0},
      {"1024X0", 0, 0, 0},
      {"-5X300", 4, -5, 300},
      {"1024x768", 2, 800, 600},  // small x is no separator
      {"1024", 2, 800, 600},
      {"X", 2, 800, 600},
      {"abcX768", 2, 800, 600},
      {"1024X768X2", 2, 800, 600},
      {"1024X 768", 4, 1024, 768},
      {"", 2, 800, 600},
      // Only 255 characters after the "X" are read.
      {"1024X" + std::string(255, '0') + "5", 0, 0, 0},
      {"1024X" + std::string(254, '0') + "5", 4, 1024, 5},
  };
  for (const TCase& c : cases) {
    TDBMng db;
    db.SetDefSize(2);
    db.SetDefWidth(800);
    db.SetDefHeight(600);
    LoadSettings(db, Elem("screensize", c.Text));
    EXPECT_EQ(db.GetDefSize(), c.Size) << c.Text;
    EXPECT_EQ(db.GetDefWidth(), c.Width) << c.Text;
    EXPECT_EQ(db.GetDefHeight(), c.Height) << c.Text;
    EXPECT_EQ(db.GetFlagConfig(), 1);
  }
}

TEST(DbMngXml, ColorDepth) {
  struct TCase {
    const char* Text;
    int Want;  // the store starts from 3
  };
  for (const TCase& c :
       {TCase{"8", 1}, TCase{"16", 2}, TCase{"24", 3}, TCase{"32", 4}, TCase{"15", 0},
        TCase{"0", 0}, TCase{"-8", 0}, TCase{"abc", 3}, TCase{"", 3}, TCase{"32bit", 3}}) {
    TDBMng db;
    db.SetDefColorDepth(3);
    LoadSettings(db, Elem("colordepth", c.Text));
    EXPECT_EQ(db.GetDefColorDepth(), c.Want) << c.Text;
    EXPECT_EQ(db.GetFlagConfig(), 1);
  }
}

TEST(DbMngXml, NonIntegerStopsTheLoadWhereItStands) {
  const char* ints[] = {"idlealert",
                        "keepalive",
                        "securityrdp",
                        "lifetimealert",
                        "idle_timeout_km_event",
                        "keyboardhook",
                        "connection_type",
                        "gatewayusagemethod",
                        "gatewaycredentialssource",
                        "autoreconnect_max_retries",
                        "authentication_level",
                        "audiomode"};
  for (const char* name : ints) {
    for (const char* bad : {"abc", "", "1.5", "99999999999"}) {
      TDBMng db;
      TXmlDoc doc = TXmlDoc::Parse("<Settings>" + Elem("domain", "NEW") + Elem(name, bad) +
                                   Elem("vdiauth", "1") + "</Settings>");
      try {
        db.LoadXML(doc.Root());
        ADD_FAILURE() << name << " '" << bad << "' did not raise";
      } catch (const EBaseException& e) {
        EXPECT_NE(e.GetMsg().find(name), std::string::npos) << e.GetMsg();
      }
      EXPECT_EQ(db.GetDomain(), "NEW") << name;  // read before the bad element
      EXPECT_FALSE(db.GetExtraAuth()) << name;   // read after it
      EXPECT_EQ(db.GetFlagConfig(), 0) << name;
    }
  }
  // The keep-alive case in full: a later default is not applied either.
  TDBMng db;
  db.SetType(2);
  LoadSettings(db, Elem("securityrdp", "0"));
  TXmlDoc doc = TXmlDoc::Parse("<Settings><keepalive>often</keepalive></Settings>");
  EXPECT_THROW(db.LoadXML(doc.Root()), EBaseException);
  EXPECT_EQ(db.GetSecurityRDPFlag(), 0);
  EXPECT_EQ(db.GetFlagConfig(), 1);  // set by the earlier load; never reset
}

TEST(DbMngXml, LongBadIntegerGivesAShortWholeCharacterMessage) {
  std::string text = "a";
  for (int i = 0; i < 50000; ++i) text += "\xC3\xA9";
  TDBMng db;
  TXmlDoc doc = TXmlDoc::Parse("<Settings>" + Elem("idlealert", text) + "</Settings>");
  try {
    db.LoadXML(doc.Root());
    FAIL() << "no error";
  } catch (const EBaseException& e) {
    EXPECT_LT(e.GetMsg().size(), 200u);
    // Cut between characters: "a" and whole two-byte characters, then the ellipsis.
    EXPECT_NE(e.GetMsg().find("'a\xC3\xA9"), std::string::npos);
    EXPECT_NE(e.GetMsg().find("\xC3\xA9...'"), std::string::npos) << e.GetMsg();
  }
}

TEST(DbMngXml, LookupIsDepthFirstAndIgnoresCase) {
  TDBMng db;
  LoadSettings(db,
               "<Group><SSO>1</SSO><inner><Domain>DEEP</Domain></inner></Group>"
               "<sso>0</sso><DOMAIN>FLAT</DOMAIN><KeepAlive>15</KeepAlive>"
               "<Screensize>800X600</Screensize>");
  EXPECT_TRUE(db.GetSSO());
  EXPECT_EQ(db.GetDomain(), "DEEP");
  EXPECT_EQ(db.GetKeepAlive(), 15);
  EXPECT_EQ(db.GetDefSize(), 4);

  // Settings nested in a whole reply, with a same-named element outside them.
  TXmlDoc doc = TXmlDoc::Parse(
      "<Info><domain>OUTSIDE</domain><Settings><domain>IN</domain></Settings></Info>");
  TDBMng other;
  other.LoadXML(doc.Root().FindFirst("settings"));
  EXPECT_EQ(other.GetDomain(), "IN");
}

TEST(DbMngXml, NoElementAtAllAppliesTheDefaults) {
  TDBMng db;
  db.LoadXML(TXmlNode());
  EXPECT_EQ(db.GetKeepAlive(), -1);
  EXPECT_EQ(db.GetKeyboardHook(), 1);
  EXPECT_EQ(db.GetDefColorDepth(), 1);
  EXPECT_EQ(db.GetFlagConfig(), 1);
}

}  // namespace
}  // namespace vantrel
