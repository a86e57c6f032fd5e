#include "window/gtk_fixture.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "host/gtk/GtkUtil.h"
#include "support/Xvfb.h"

// GTK, GLib's type system and the font stack keep their caches until the process ends, by design;
// the leak checker would report them in every test. The window's own allocations have none of
// these libraries on their allocation stacks.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
         "leak:libgio-2.0.so\nleak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\n"
         "leak:libharfbuzz.so\nleak:libatk\nleak:libgdk_pixbuf\nleak:libX11.so\nleak:libdbus-1."
         "so\n";
}

namespace vantrel::test {

bool StartGtkDisplay(std::string& prmWhy) {
  static TXvfb xvfb;
  static std::string failure;
  static bool started = false;
  if (!started) {
    started = true;
    if (!StartXvfb(xvfb, failure)) {
      prmWhy = failure;
      return false;
    }
    setenv("DISPLAY", xvfb.Display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    if (!gtk_init_check(nullptr, nullptr)) failure = "GTK cannot open " + xvfb.Display;
  }
  prmWhy = failure;
  return failure.empty();
}

std::string RunSteps(const std::vector<TStep>& prmSteps, int prmTimeoutMs,
                     const std::function<void()>& prmGiveUp) {
  struct TRun {
    const std::vector<TStep>* Steps;
    size_t Next = 0;
    gint64 Deadline;
    bool GaveUp = false;
    const std::function<void()>* GiveUp;
  } run{&prmSteps, 0, g_get_monotonic_time() + gint64(prmTimeoutMs) * 1000, false, &prmGiveUp};
  guint timer = g_timeout_add(
      50,
      [](gpointer prmRun) {
        auto* r = static_cast<TRun*>(prmRun);
        if (r->GaveUp) return gboolean(G_SOURCE_CONTINUE);
        if (g_get_monotonic_time() > r->Deadline) {
          r->GaveUp = true;
          if (*r->GiveUp) (*r->GiveUp)();
          return gboolean(G_SOURCE_CONTINUE);
        }
        while (r->Next < r->Steps->size() && (*r->Steps)[r->Next].Ready()) {
          const TStep& s = (*r->Steps)[r->Next++];
          if (s.Act) s.Act();
        }
        return gboolean(G_SOURCE_CONTINUE);
      },
      &run);
  while (run.Next < prmSteps.size() && !run.GaveUp) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(timer);
  return run.Next < prmSteps.size() ? prmSteps[run.Next].What : std::string();
}

GtkWidget* Toplevel(const std::string& prmName) {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* w = all; w != nullptr && found == nullptr; w = w->next)
    if (gtk_widget_get_visible(GTK_WIDGET(w->data)) &&
        prmName == gtk_widget_get_name(GTK_WIDGET(w->data)))
      found = GTK_WIDGET(w->data);
  g_list_free(all);
  return found;
}

GtkWidget* InWindow(const std::string& prmWindow, const std::string& prmWidget) {
  return host::gtk::FindNamed(Toplevel(prmWindow), prmWidget);
}

int Rows(GtkWidget* prmTreeView) {
  if (prmTreeView == nullptr) return -1;
  return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(prmTreeView)),
                                        nullptr);
}

bool SaveScreenshot(GtkWidget* prmWindow, const std::string& prmPath) {
  // What the window shows now, drawn: a redraw waits for the next frame.
  gtk_widget_queue_draw(prmWindow);
  gint64 until = g_get_monotonic_time() + 500000;
  while (g_get_monotonic_time() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(10000);
  }
  gdk_display_sync(gtk_widget_get_display(prmWindow));
  GdkWindow* w = gtk_widget_get_window(prmWindow);
  if (w == nullptr) return false;
  GdkPixbuf* shot =
      gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
  if (shot == nullptr) return false;
  bool saved = gdk_pixbuf_save(shot, prmPath.c_str(), "png", nullptr, nullptr);
  g_object_unref(shot);
  return saved;
}

}  // namespace vantrel::test
