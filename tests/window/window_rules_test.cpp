// When vantreltcs opens its window, and how the status line reads a download's progress.
#include <gtest/gtest.h>

#include "diag/Exceptions.h"
#include "host/gtk/FormWindow.h"
#include "host/vantreltcs/HostOptions.h"

namespace vantrel::test {
namespace {

using host::TUiKind;

TEST(WindowRules, TheWindowIsTheDefaultWithADisplayAndNoPage) {
  const struct {
    std::vector<std::string> Args;
    bool Display;
    TUiKind Ui;
  } cases[] = {
      {{}, true, TUiKind::Gtk},
      {{}, false, TUiKind::Terminal},
      {{"--api", "stdio"}, true, TUiKind::Terminal},
      {{"--ui", "terminal"}, true, TUiKind::Terminal},
      {{"--ui", "none"}, true, TUiKind::None},
      {{"--ui", "gtk"}, false, TUiKind::Gtk},
  };
  for (const auto& c : cases)
    EXPECT_EQ(host::ParseHostOptions(c.Args, c.Display).Ui, c.Ui)
        << ::testing::PrintToString(c.Args) << " display " << c.Display;
  EXPECT_THROW(host::ParseHostOptions({"--ui", "gtk", "--api", "stdio"}, true), EBaseException);
  EXPECT_THROW(host::ParseHostOptions({"--ui", "qt"}, true), EBaseException);
}

TEST(WindowRules, ProgressIsReadFromADownloadStatusOnly) {
  const struct {
    const char* Status;
    double Done;
  } cases[] = {
      {"client.cab (42) ...", 0.42},
      {"client.cab (100) ...", 1.0},
      {"client.cab ...", -1},
      {"Connecting...", -1},
      {"x (101) ...", -1},
      {"x (4a) ...", -1},
      {"() ...", -1},
      {"(", -1},
      {"", -1},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(host::gtk::ProgressFraction(c.Status), c.Done) << c.Status;
  EXPECT_EQ(host::gtk::DownloadText(1500000, 12000000),
            "1.5\u00a0MB of 12.0\u00a0MB");  // GLib keeps number and unit together
  EXPECT_EQ(host::gtk::DownloadText(0, 900), "0 bytes of 900 bytes");
}

}  // namespace
}  // namespace vantrel::test
