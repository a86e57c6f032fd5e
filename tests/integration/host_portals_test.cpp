// Which portal origins may open sessions: the administrator's lists, the user's remembered
// portals, and the question, with every origin compared as the browser reports it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/vantreltcs/PortalOrigins.h"
#include "platform/Settings.h"

namespace vantrel::test {
namespace {

using namespace host;

enum class TAsk { Nobody, Yes, No };

std::string ReadAll(const std::string& prmPath) {
  std::stringstream text;
  text << std::ifstream(prmPath).rdbuf();
  return text.str();
}

TEST(HostPortals, AnOriginIsAllowedOnlyWhenListedRememberedOrAllowedWhenAsked) {
  const std::string none = "-";
  const struct {
    const char* Name;
    std::string Env, Settings, File;  // "-": not set / no file
    mode_t FileMode;
    TAsk Ask;
    std::string Origin;
    bool Allowed, Asked, RememberedAfter;
    mode_t DirMode = 0755;
  } cases[] = {
      {"environment list", "https://a.example http://b.example:8080", none, none, 0600,
       TAsk::Nobody, "https://a.example", true, false, false},
      {"plain http listed by the administrator", "https://a.example http://b.example:8080", none,
       none, 0600, TAsk::Nobody, "http://b.example:8080", true, false, false},
      {"settings list", none, "https://c.example:8443", none, 0600, TAsk::Nobody,
       "https://c.example:8443", true, false, false},
      {"scheme and host compared without case", "HTTPS://Portal.Example", none, none, 0600,
       TAsk::Nobody, "https://portal.EXAMPLE", true, false, false},
      {"the port is not normalised", "https://d.example", none, none, 0600, TAsk::Nobody,
       "https://d.example:443", false, false, false},
      {"a listed path or trailing slash is ignored", "https://e.example/ https://f.example/p", none,
       none, 0600, TAsk::Nobody, "https://e.example", false, false, false},
      {"remembered", none, none, "# c\nhttps://g.example\n", 0600, TAsk::No, "https://g.example",
       true, false, true},
      {"remembered is exact", none, none, "https://g.example\n", 0600, TAsk::Nobody,
       "https://g.example.evil", false, false, false},
      {"asked, yes: remembered", none, none, none, 0600, TAsk::Yes, "https://h.example:9443", true,
       true, true},
      {"asked, no", none, none, none, 0600, TAsk::No, "https://h.example", false, true, false},
      {"http is never asked or remembered", none, none, none, 0600, TAsk::Yes, "http://h.example",
       false, false, false},
      {"nobody to ask", none, none, none, 0600, TAsk::Nobody, "https://h.example", false, false,
       false},
      {"not an origin", "https://x.example/", none, none, 0600, TAsk::Yes, "https://x.example/",
       false, false, false},
      {"a corrupt file counts for nothing and is kept", none, none, "https://g.example/\n", 0600,
       TAsk::Yes, "https://g.example", true, true, false},
      {"a file others may write counts for nothing", none, none, "https://g.example\n", 0666,
       TAsk::No, "https://g.example", false, true, false},
      {"a folder others may write counts for nothing", none, none, "https://g.example\n", 0600,
       TAsk::No, "https://g.example", false, true, false, 0777},
  };
  const std::string dir = ConfigDir();
  const std::string file = dir + "/portals";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    if (c.Env == none)
      unsetenv("VANTREL_ALLOWED_PORTALS");
    else
      setenv("VANTREL_ALLOWED_PORTALS", c.Env.c_str(), 1);
    if (c.Settings != none) std::ofstream(dir + "/settings.ini") << "AllowedPortals=" << c.Settings;
    if (c.File != none) {
      std::ofstream(file) << c.File;
      chmod(file.c_str(), c.FileMode);
    }
    chmod(dir.c_str(), c.DirMode);
    bool asked = false;
    TAskPortal ask;
    if (c.Ask != TAsk::Nobody)
      ask = [&](const std::string&) {
        asked = true;
        return c.Ask == TAsk::Yes;
      };
    EXPECT_EQ(IsPortalAllowed(c.Origin, TPortalStore(), ask), c.Allowed);
    EXPECT_EQ(asked, c.Asked);
    std::vector<std::string> remembered;
    std::string error;
    TPortalStore().Load(remembered, error);
    const std::string normal = NormalizeOrigin(c.Origin);
    EXPECT_EQ(std::find(remembered.begin(), remembered.end(), normal) != remembered.end(),
              c.RememberedAfter);
    if (c.File != none && !c.RememberedAfter) {
      EXPECT_EQ(ReadAll(file), c.File);
    }
    if (c.RememberedAfter && c.File == none) {
      struct stat st {};
      ASSERT_EQ(stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
  }
  unsetenv("VANTREL_ALLOWED_PORTALS");
}

}  // namespace
}  // namespace vantrel::test
