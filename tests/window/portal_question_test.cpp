// The question put to the person before a new portal may start sessions: only Yes allows; No,
// the browser going away, a stop signal or no answer in time refuse, closing the open window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <utility>

#include "host/gtk/PortalQuestion.h"
#include "platform/Dialogs.h"
#include "window/gtk_fixture.h"

namespace vantrel::test {
namespace {

struct TWatch {
  std::function<void()> Act;
  bool Done = false;
};

// Acts once the question is on screen, from GTK's loop (which the question itself runs).
gboolean ActWhenShown(gpointer prmWatch) {
  auto* w = static_cast<TWatch*>(prmWatch);
  if (w->Done || Toplevel("dlgMessage") == nullptr) return G_SOURCE_CONTINUE;
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(Toplevel("dlgMessage"))), "Vantrel");
  w->Done = true;
  w->Act();
  return G_SOURCE_REMOVE;
}

TEST(WindowPortalQuestion, OnlyYesAllowsAndEveryOtherEndRefuses) {
  std::string why;
  ASSERT_TRUE(StartGtkDisplay(why)) << why;
  int input[2] = {-1, -1};
  int stop = -1;
  const auto click = [](int prmButton) {
    return [prmButton] {
      gtk_button_clicked(GTK_BUTTON(InWindow("dlgMessage", "button" + std::to_string(prmButton))));
    };
  };
  const struct {
    const char* Name;
    std::function<void()> Act;
    int TimeoutMs;
    bool Allowed;
  } cases[] = {
      {"yes", click(IDYES), 20000, true},
      {"no", click(IDNO), 20000, false},
      {"the browser closed the port", [&] { close(std::exchange(input[1], -1)); }, 20000, false},
      {"a stop signal",
       [&] {
         const uint64_t one = 1;
         EXPECT_EQ(write(stop, &one, sizeof one), 8);
       },
       20000, false},
      {"no answer in time", [] {}, 300, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    stop = eventfd(0, EFD_CLOEXEC);
    TWatch watch{c.Act};
    const guint timer = g_timeout_add(20, ActWhenShown, &watch);
    EXPECT_EQ(host::gtk::AskAllowPortal("https://portal.example", stop, input[0], c.TimeoutMs),
              c.Allowed);
    EXPECT_TRUE(watch.Done);
    if (!watch.Done) g_source_remove(timer);
    for (int fd : {input[0], input[1], stop})
      if (fd >= 0) close(fd);
    for (int i = 0; i < 100 && g_main_context_pending(nullptr); ++i)
      g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(Toplevel("dlgMessage"), nullptr);
  }
}

}  // namespace
}  // namespace vantrel::test
