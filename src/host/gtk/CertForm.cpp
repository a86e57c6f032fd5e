#include "host/gtk/DialogForms.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

GtkWidget* CertList(const std::vector<TCertRow>& prmRows) {
  GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
  for (const TCertRow& r : prmRows) {
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, 0, r.Subject.c_str(), 1, r.Issuer.c_str(), -1);
  }
  GtkWidget* view = Named(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store)), "lvCerts");
  g_object_unref(store);
  const char* titles[2] = {"Subject", "Issuer"};
  for (int c = 0; c < 2; ++c) {
    GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
        titles[c], gtk_cell_renderer_text_new(), "text", c, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_expand(col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), col);
  }
  return view;
}

int SelectedRow(GtkTreeView* prmView) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(prmView), &model, &it))
    return -1;
  GtkTreePath* path = gtk_tree_model_get_path(model, &it);
  int row = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  return row;
}

// A double-click on a row chooses that row: OK.
void RowActivated(GtkTreeView* prmView, GtkTreePath* prmPath, GtkTreeViewColumn*,
                  gpointer prmDialog) {
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(prmView), prmPath);
  gtk_dialog_response(GTK_DIALOG(prmDialog), GTK_RESPONSE_OK);
}

}  // namespace

int RunCertForm(TDialogScope& prmScope, const std::vector<TCertRow>& prmRows) {
  GtkWidget* d = Named(gtk_dialog_new(), "dlgSelectCert");
  gtk_window_set_title(GTK_WINDOW(d), "Select a Certificate...");
  gtk_window_set_default_size(GTK_WINDOW(d), 635, 339);
  GtkWidget* view = CertList(prmRows);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_widget_set_vexpand(scroll, TRUE);
  gtk_container_add(GTK_CONTAINER(scroll), view);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), scroll);
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "_OK", GTK_RESPONSE_OK), "btOK");
  GtkWidget* cancel =
      Named(gtk_dialog_add_button(GTK_DIALOG(d), "_Cancel", GTK_RESPONSE_CANCEL), "btCancel");
  g_signal_connect(view, "row-activated", G_CALLBACK(RowActivated), d);
  if (prmRows.size() == 1) {
    GtkTreePath* first = gtk_tree_path_new_first();
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), first);
    gtk_tree_path_free(first);
  }
  gtk_widget_show_all(scroll);
  // A list that takes the focus first selects its first row by itself; the choice is the user's.
  gtk_widget_grab_focus(cancel);
  int chosen = -1;
  for (;;) {
    if (prmScope.WaitResponse(GTK_DIALOG(d)) != GTK_RESPONSE_OK) break;
    chosen = SelectedRow(GTK_TREE_VIEW(view));
    if (chosen >= 0) break;
    RunMessageForm(prmScope, "You must select a certificate or select cancel", "Warning",
                   MB_OK | MB_ICONWARNING);
  }
  gtk_widget_destroy(d);
  return chosen;
}

}  // namespace vantrel::host::gtk
