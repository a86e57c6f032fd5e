#include "host/gtk/DialogForms.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

GtkWidget* Row(GtkGrid* prmGrid, int prmRow, const char* prmLabel, const char* prmName,
               const std::string& prmText) {
  GtkWidget* edit = Named(gtk_entry_new(), prmName);
  gtk_entry_set_text(GTK_ENTRY(edit), prmText.c_str());
  gtk_entry_set_activates_default(GTK_ENTRY(edit), TRUE);
  gtk_widget_set_hexpand(edit, TRUE);
  gtk_grid_attach(prmGrid, LabelLeft(prmLabel), 0, prmRow, 1, 1);
  gtk_grid_attach(prmGrid, edit, 1, prmRow, 1, 1);
  return edit;
}

}  // namespace

int RunLoginForm(TDialogScope& prmScope, TLoginPrompt& prmPrompt) {
  GtkWidget* d = Named(gtk_dialog_new(), "dlgLogin");
  gtk_window_set_title(GTK_WINDOW(d), prmPrompt.Caption.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(d), FALSE);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
  GtkWidget* user = Row(GTK_GRID(grid), 0, "Username:", "edUsername", prmPrompt.User);
  // The password the caller holds is not shown back.
  GtkWidget* pass = Row(GTK_GRID(grid), 1, "Password:", "edPassword", "");
  gtk_entry_set_visibility(GTK_ENTRY(pass), FALSE);
  GtkWidget* domain = Row(GTK_GRID(grid), 2, "Domain:", "edDomain", prmPrompt.Domain);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid);
  Named(gtk_dialog_add_button(GTK_DIALOG(d), prmPrompt.ButtonText.c_str(), GTK_RESPONSE_OK),
        "Button1");
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "Cancel", GTK_RESPONSE_CANCEL), "Button2");
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_widget_show_all(grid);
  if (!prmPrompt.DomainVisible) {
    gtk_widget_hide(gtk_grid_get_child_at(GTK_GRID(grid), 0, 2));
    gtk_widget_hide(domain);
  }
  gtk_widget_grab_focus(prmPrompt.User.empty() ? user : pass);
  int r = prmScope.WaitResponse(GTK_DIALOG(d));
  if (r == GTK_RESPONSE_OK) {
    prmPrompt.User = gtk_entry_get_text(GTK_ENTRY(user));
    prmPrompt.Password = gtk_entry_get_text(GTK_ENTRY(pass));
    if (prmPrompt.DomainVisible) prmPrompt.Domain = gtk_entry_get_text(GTK_ENTRY(domain));
  }
  gtk_widget_destroy(d);
  return r == GTK_RESPONSE_OK ? IDOK : IDCANCEL;
}

}  // namespace vantrel::host::gtk
