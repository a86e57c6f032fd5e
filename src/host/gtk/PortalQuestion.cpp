#include "host/gtk/PortalQuestion.h"

#include <glib-unix.h>

#include "host/gtk/GtkDialogs.h"

namespace vantrel::host::gtk {

namespace {

gboolean CancelOnFd(gint, GIOCondition, gpointer prmDialogs) {
  static_cast<TGtkDialogs*>(prmDialogs)->Cancel();
  return G_SOURCE_REMOVE;
}

gboolean CancelOnTimeout(gpointer prmDialogs) {
  static_cast<TGtkDialogs*>(prmDialogs)->Cancel();
  return G_SOURCE_REMOVE;
}

}  // namespace

bool AskAllowPortal(const std::string& prmOrigin, int prmStopFd, int prmInputFd, int prmTimeoutMs) {
  TGtkDialogs dialogs;
  guint stop = prmStopFd >= 0 ? g_unix_fd_add(prmStopFd, G_IO_IN, CancelOnFd, &dialogs) : 0;
  // Only the hang-up: the page's next messages may already wait in the pipe, unread.
  guint gone = g_unix_fd_add(prmInputFd, static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR), CancelOnFd,
                             &dialogs);
  guint timer = g_timeout_add(static_cast<guint>(prmTimeoutMs), CancelOnTimeout, &dialogs);
  const int answer = dialogs.MessageBox("Allow " + prmOrigin + " to start Vantrel sessions?",
                                        "Vantrel", MB_YESNO | MB_ICONQUESTION);
  // Each is removed unless it fired (and so removed itself).
  for (guint id : {stop, gone, timer})
    if (id != 0 && g_main_context_find_source_by_id(nullptr, id) != nullptr) g_source_remove(id);
  return answer == IDYES;
}

}  // namespace vantrel::host::gtk
