#include <algorithm>

#include "host/gtk/DialogForms.h"

namespace vantrel::host::gtk {

namespace {

struct TWait {
  int Response = GTK_RESPONSE_NONE;
  bool Done = false;
};

void OnResponse(GtkDialog*, gint prmResponse, gpointer prmWait) {
  auto* w = static_cast<TWait*>(prmWait);
  w->Response = prmResponse;
  w->Done = true;
}

// The dialog's own handler has already answered GTK_RESPONSE_DELETE_EVENT; the caller destroys.
gboolean KeepOnDelete(GtkWidget*, GdkEvent*, gpointer) {
  return TRUE;
}

}  // namespace

void TDialogScope::CancelAll() {
  m_Cancelled = true;
  // Copied: a response unwinds its wait, which removes the dialog from the list.
  std::vector<GtkDialog*> open = m_Open;
  for (GtkDialog* d : open) gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
}

int TDialogScope::WaitResponse(GtkDialog* prmDialog) {
  if (m_Cancelled) return GTK_RESPONSE_CANCEL;
  TWait wait;
  gulong response = g_signal_connect(prmDialog, "response", G_CALLBACK(OnResponse), &wait);
  gulong del = g_signal_connect(prmDialog, "delete-event", G_CALLBACK(KeepOnDelete), nullptr);
  if (m_Parent != nullptr && gtk_widget_get_visible(GTK_WIDGET(m_Parent)))
    gtk_window_set_transient_for(GTK_WINDOW(prmDialog), m_Parent);
  gtk_window_set_modal(GTK_WINDOW(prmDialog), TRUE);
  gtk_window_present(GTK_WINDOW(prmDialog));
  m_Open.push_back(prmDialog);
  while (!wait.Done) g_main_context_iteration(nullptr, TRUE);
  m_Open.erase(std::find(m_Open.begin(), m_Open.end(), prmDialog));
  g_signal_handler_disconnect(prmDialog, response);
  g_signal_handler_disconnect(prmDialog, del);
  return wait.Response == GTK_RESPONSE_DELETE_EVENT ? GTK_RESPONSE_CANCEL : wait.Response;
}

}  // namespace vantrel::host::gtk
