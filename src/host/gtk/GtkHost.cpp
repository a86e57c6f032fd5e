#include "host/gtk/GtkHost.h"

#include <glib-unix.h>

#include <cstdio>

#include "diag/DebugLog.h"

namespace vantrel::host::gtk {

namespace {

// Events still queued once the control is gone (a dialog request given up, a redraw) are
// handled without waiting; this many at most.
constexpr int kMaxDrainedEvents = 1000;

std::string Gateway(TMapPropertyBag prmBag) {
  std::string host;
  prmBag.Read("sp_name", host);
  return host;
}

}  // namespace

TGtkHost::TGtkHost(const TMapPropertyBag& prmBag, int prmStopFd)
    : m_Control(std::make_unique<TVantrelTCSX>(m_Dialogs)),
      m_Form(std::make_unique<TFormWindow>(
          *m_Control, [this] { Close(); }, WindowTitle(Gateway(prmBag)))) {
  m_Dialogs.SetParent(m_Form->Window());
  // May recurse: a dialog shown while handling a message runs its own loop, and the control's
  // messages (a worker's Send among them) must still be handled there.
  m_Messages = g_unix_fd_source_new(m_Control->Window().Fd(), G_IO_IN);
  g_source_set_callback(
      m_Messages, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(OnWindowMessages)),
      this, nullptr);
  g_source_set_can_recurse(m_Messages, TRUE);
  g_source_attach(m_Messages, nullptr);
  if (prmStopFd >= 0)
    m_Stop = g_unix_fd_add(
        prmStopFd, G_IO_IN,
        [](gint, GIOCondition, gpointer prmSelf) {
          auto* self = static_cast<TGtkHost*>(prmSelf);
          self->m_Stop = 0;
          self->Close();
          return gboolean(G_SOURCE_REMOVE);
        },
        this);
  TMapPropertyBag bag = prmBag;
  // The window is the user's only view: nobody else would start the session.
  m_Control->SetNoPage();
  m_Control->Load(bag);
  m_Form->Show();
}

TGtkHost::~TGtkHost() {
  Close();
  if (m_Stop != 0) g_source_remove(m_Stop);
  g_source_destroy(m_Messages);
  g_source_unref(m_Messages);
  m_Dialogs.SetParent(nullptr);
  m_Form.reset();
  m_Control.reset();
  WriteDebugLog("vantreltcs - the window released the control");
  for (int i = 0; i < kMaxDrainedEvents && g_main_context_pending(nullptr); ++i)
    g_main_context_iteration(nullptr, FALSE);
}

gboolean TGtkHost::OnWindowMessages(gint, GIOCondition, gpointer prmSelf) {
  auto* self = static_cast<TGtkHost*>(prmSelf);
  self->m_Control->Window().ProcessMessages();
  self->m_Form->Refresh();
  return G_SOURCE_CONTINUE;
}

void TGtkHost::Close() {
  if (m_Closed) return;
  m_Closed = true;
  // The session's waits end now, so the release that follows is quick; dialogs open or asked
  // meanwhile answer as dismissed.
  m_Control->RequestRelease();
  m_Dialogs.Cancel();
  gtk_widget_hide(GTK_WIDGET(m_Form->Window()));
}

void TGtkHost::Run() {
  while (!m_Closed) g_main_context_iteration(nullptr, TRUE);
}

int RunGtkHost(const TMapPropertyBag& prmBag, int prmStopFd) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fputs("vantreltcs: cannot open the display for --ui gtk\n", stderr);
    return 2;
  }
  TGtkHost host(prmBag, prmStopFd);
  host.Run();
  return 0;
}

}  // namespace vantrel::host::gtk
