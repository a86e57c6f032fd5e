#include "platform/Registration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Settings.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

using test::TLogCapture;

std::string TestLib(const char* prmName) {
  return test::LibDir() + "/lib" + prmName + ".so";
}

std::string Marker() {
  return TempDir() + "/registered.marker";
}

TEST(Registration, CallsTheEntryAndLogsEachStep) {
  std::filesystem::remove(Marker());
  TLogCapture cap;
  TScriptedDialogs dlg;
  EXPECT_TRUE(RegisterActiveXServer(TestLib("vantrel_test_register"), dlg));
  std::ifstream marker(Marker());
  std::string text((std::istreambuf_iterator<char>(marker)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "called\n");
  EXPECT_TRUE(dlg.Shown().empty());
  EXPECT_EQ(cap.Lines(),
            (std::vector<std::string>{"Entering ActiveX registration", "Loading component",
                                      "Getting registration method", "Calling registration method",
                                      "Registration Done"}));
}

TEST(Registration, LibraryWithoutEntryShowsBox) {
  TLogCapture cap;
  TScriptedDialogs dlg;
  EXPECT_FALSE(RegisterActiveXServer(TestLib("vantrel_test_plain"), dlg));
  auto shown = dlg.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].Text.rfind("Failed to locate registery method (", 0), 0u) << shown[0].Text;
  EXPECT_EQ(shown[0].Text.back(), ')');
  EXPECT_EQ(shown[0].Flags, MB_OK | MB_ICONINFORMATION);
  EXPECT_TRUE(cap.HasLine(shown[0].Text));
  EXPECT_FALSE(cap.Contains("Calling registration method"));
}

TEST(Registration, MissingOrBrokenFileShowsLoadFailure) {
  std::string missing = TempDir() + "/nothere.so";
  std::string broken = TempDir() + "/broken.so";
  std::ofstream(broken) << "not a library";
  for (const std::string& path : {missing, broken}) {
    TLogCapture cap;
    TScriptedDialogs dlg;
    EXPECT_FALSE(RegisterActiveXServer(path, dlg));
    auto shown = dlg.Shown();
    ASSERT_EQ(shown.size(), 1u) << path;
    EXPECT_EQ(shown[0].Text.rfind("Failed to load " + path + " (", 0), 0u) << shown[0].Text;
    EXPECT_EQ(shown[0].Text.back(), ')');
    EXPECT_TRUE(cap.HasLine(shown[0].Text));
    EXPECT_FALSE(cap.Contains("Getting registration method"));
  }
}

TEST(Registration, LoggingDialogsLetItFailQuietly) {
  TLogCapture cap;
  TLoggingDialogs dlg;
  EXPECT_FALSE(RegisterActiveXServer(TestLib("vantrel_test_plain"), dlg));
  EXPECT_TRUE(cap.Contains("MessageBox - "));
}

}  // namespace
}  // namespace vantrel
