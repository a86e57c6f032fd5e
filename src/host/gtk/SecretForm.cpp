#include <algorithm>

#include "host/gtk/DialogForms.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

int RunSecretForm(TDialogScope& prmScope, const std::string& prmText, const std::string& prmCaption,
                  std::string& prmSecret) {
  GtkWidget* d = Named(gtk_dialog_new(), "dlgSecret");
  gtk_window_set_title(GTK_WINDOW(d), prmCaption.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(d), FALSE);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
  gtk_grid_attach(GTK_GRID(grid), LabelLeft(prmText.c_str()), 0, 0, 1, 1);
  GtkWidget* edit = Named(gtk_entry_new(), "edSecret");
  gtk_entry_set_visibility(GTK_ENTRY(edit), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(edit), TRUE);
  gtk_widget_set_hexpand(edit, TRUE);
  gtk_grid_attach(GTK_GRID(grid), edit, 0, 1, 1, 1);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid);
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "OK", GTK_RESPONSE_OK), "Button1");
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "Cancel", GTK_RESPONSE_CANCEL), "Button2");
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
  gtk_widget_show_all(grid);
  gtk_widget_grab_focus(edit);
  const int r = prmScope.WaitResponse(GTK_DIALOG(d));
  if (r == GTK_RESPONSE_OK) prmSecret = gtk_entry_get_text(GTK_ENTRY(edit));
  // The entry's buffer is cleared before the widget goes, so the text does not linger there.
  gtk_entry_set_text(GTK_ENTRY(edit), "");
  gtk_widget_destroy(d);
  return r == GTK_RESPONSE_OK ? IDOK : IDCANCEL;
}

}  // namespace vantrel::host::gtk
