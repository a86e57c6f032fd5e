#include "platform/IcaClient.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/TestEnv.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& prmPath, const std::string& prmText, bool prmExec = false) {
  fs::create_directories(fs::path(prmPath).parent_path());
  std::ofstream(prmPath, std::ios::binary | std::ios::trunc) << prmText;
  chmod(prmPath.c_str(), prmExec ? 0755 : 0644);
}

// A fresh folder per case, with a configured program, a desktop entry whose Exec program has a
// blank in its path, and a default program, each present only when the case asks.
struct TIcaFixture {
  explicit TIcaFixture(const std::string& prmName) : Root(test::TestRoot() + "/ica/" + prmName) {
    fs::remove_all(Root);
    fs::create_directories(Root);
    Sources.ConfigDirs = {Root + "/config"};
    Sources.DataDirs = {Root + "/data-home", Root + "/data"};
    Sources.DefaultProgram = Root + "/opt/wfica";
  }
  std::string Configured() const { return Root + "/bin/configured"; }
  std::string Handler() const { return Root + "/ica client/wfica"; }
  void InstallHandlerEntry() const {
    WriteFile(Root + "/data/applications/citrix.desktop",
              "[Desktop Action x]\nExec=/wrong\n[Desktop Entry]\nName=ICA\nExec=\"" + Handler() +
                  "\" -file %f\n");
    WriteFile(Handler(), "#!/bin/sh\n", true);
  }

  std::string Root;
  TIcaClientSources Sources;
};

TEST(IcaClientTest, DetectionTakesTheFirstSourceThatNamesAProgram) {
  enum TMime { NoMime, MimeApps, DesktopMimeApps, MimeCache, UninstalledEntry };
  struct TCase {
    const char* Name;
    int Configured;  // 0 unset, 1 present, 2 named but missing
    TMime Mime;
    bool Default;
    const char* Expect;  // "configured", "handler", "default" or ""
  } cases[] = {
      {"configured", 1, MimeApps, true, "configured"},
      {"missing-configured", 2, MimeApps, true, "handler"},
      {"mimeapps", 0, MimeApps, true, "handler"},
      {"desktop-list-first", 0, DesktopMimeApps, true, "handler"},
      {"mimeinfo-cache", 0, MimeCache, false, "handler"},
      {"uninstalled-entry", 0, UninstalledEntry, true, "default"},
      {"default", 0, NoMime, true, "default"},
      {"nothing", 2, NoMime, false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIcaFixture f(c.Name);
    if (c.Configured != 0) f.Sources.Configured = f.Configured();
    if (c.Configured == 1) WriteFile(f.Configured(), "#!/bin/sh\n", true);
    if (c.Mime != NoMime) f.InstallHandlerEntry();
    const std::string assoc = "application/x-ica=absent.desktop;citrix.desktop;\n";
    if (c.Mime == MimeApps)
      WriteFile(f.Root + "/config/mimeapps.list",
                "[Added Associations]\napplication/x-ica=other.desktop\n"
                "[Default Applications]\n" +
                    assoc);
    if (c.Mime == DesktopMimeApps) {
      f.Sources.DesktopNames = {"kde", "gnome"};
      WriteFile(f.Root + "/config/gnome-mimeapps.list", "[Default Applications]\n" + assoc);
      WriteFile(f.Root + "/config/mimeapps.list",
                "[Default Applications]\napplication/x-ica=absent.desktop\n");
    }
    if (c.Mime == MimeCache)
      WriteFile(f.Root + "/data/applications/mimeinfo.cache", "[MIME Cache]\n" + assoc);
    if (c.Mime == UninstalledEntry)
      WriteFile(f.Root + "/config/mimeapps.list",
                "[Default Applications]\napplication/x-ica=absent.desktop\n");
    if (c.Default) WriteFile(f.Sources.DefaultProgram, "#!/bin/sh\n", true);

    const std::string expect = std::string(c.Expect) == "configured" ? f.Configured()
                               : std::string(c.Expect) == "handler"  ? f.Handler()
                               : std::string(c.Expect) == "default"  ? f.Sources.DefaultProgram
                                                                     : std::string();
    EXPECT_EQ(DetectfullClient(f.Sources), expect);
  }
}

TEST(IcaClientTest, DesktopEntryProgramIsTheFirstExecArgument) {
  const std::pair<const char*, const char*> cases[] = {
      {"[Desktop Entry]\nExec=wfica -file %f\n", "wfica"},
      {"[Desktop Entry]\nExec=\"/a b/c\\\"d\" %f\n", "/a b/c\"d"},
      {"[Other]\nExec=wrong\n[Desktop Entry]\nName=x\n", ""},
      {"[Desktop Entry]\r\nExec = /opt/x/wfica\r\n", "/opt/x/wfica"},
  };
  for (const auto& [text, program] : cases) EXPECT_EQ(DesktopEntryProgram(text), program) << text;
}

TEST(IcaClientTest, VersionComesFromTheFirstVersionFileByName) {
  TIcaFixture f("version");
  EXPECT_EQ(IcaClientVersionText(f.Root), "");
  WriteFile(f.Root + "/pkginf/Ver.core.x86_64", "24.2.0.65\nsecond line\n");
  WriteFile(f.Root + "/pkginf/Ver.core.zz", "99.0\n");
  WriteFile(f.Root + "/pkginf/Other", "1.0\n");
  EXPECT_EQ(IcaClientVersionText(f.Root), "24.2.0.65");
  EXPECT_EQ(IcaClientVersionText(""), "");
  EXPECT_EQ(IcaClientLocation(f.Root + "/wfica"), f.Root);
  EXPECT_EQ(IcaClientLocation(""), "");
}

}  // namespace
}  // namespace vantrel
