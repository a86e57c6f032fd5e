#include "host/gtk/AppsView.h"

#include "host/gtk/ControlCalls.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

enum { COL_ICON, COL_NAME, COL_IS_APP, COL_INDEX, COL_COUNT };

}  // namespace

TAppsView::TAppsView(TVantrelTCSX& prmControl)
    : m_Control(prmControl),
      m_Store(
          gtk_list_store_new(COL_COUNT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN, G_TYPE_INT)) {
  m_View = Named(gtk_tree_view_new_with_model(GTK_TREE_MODEL(m_Store)), "lvApps");
  g_object_unref(m_Store);
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(m_View), FALSE);
  GtkTreeViewColumn* col = gtk_tree_view_column_new();
  GtkCellRenderer* icon = gtk_cell_renderer_pixbuf_new();
  gtk_tree_view_column_pack_start(col, icon, FALSE);
  gtk_tree_view_column_add_attribute(col, icon, "icon-name", COL_ICON);
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  gtk_tree_view_column_pack_start(col, text, TRUE);
  gtk_tree_view_column_add_attribute(col, text, "text", COL_NAME);
  gtk_tree_view_append_column(GTK_TREE_VIEW(m_View), col);
  OnSignal(m_View, "row-activated", [this] { Activate(); });

  m_Up = Named(gtk_button_new_with_mnemonic("_Up"), "btFolderUp");
  OnSignal(m_Up, "clicked", [this] {
    Call(m_Control, "PopCurFolder");
    Refresh();
  });
  GtkWidget* launch = Named(gtk_button_new_with_mnemonic("_Launch"), "btLaunchApp");
  OnSignal(launch, "clicked", [this] { Activate(); });
  m_Folder = Named(LabelLeft(""), "lblFolder");
  gtk_widget_set_hexpand(m_Folder, TRUE);
  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(bar), m_Up, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), m_Folder, TRUE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(bar), launch, FALSE, FALSE, 0);
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
  gtk_widget_set_vexpand(scroll, TRUE);
  gtk_container_add(GTK_CONTAINER(scroll), m_View);
  m_Box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(m_Box), 8);
  gtk_box_pack_start(GTK_BOX(m_Box), bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(m_Box), scroll, TRUE, TRUE, 0);
}

void TAppsView::Refresh() {
  std::string shown = GetText(m_Control, "CurFolder") + "\n" +
                      std::to_string(GetI4(m_Control, "SubFoldersCount")) + "\n" +
                      std::to_string(GetI4(m_Control, "AppsCount"));
  if (shown != m_Shown) {
    m_Shown = shown;
    Rebuild();
  }
  gtk_widget_set_sensitive(m_Up, GetI4(m_Control, "HasParentFolder") != 0);
}

void TAppsView::Rebuild() {
  gtk_list_store_clear(m_Store);
  std::string folder = GetText(m_Control, "CurFolder");
  gtk_label_set_text(GTK_LABEL(m_Folder), folder.empty() ? "No applications" : folder.c_str());
  auto add = [this](const char* prmIcon, const std::string& prmName, bool prmIsApp, int prmIndex) {
    GtkTreeIter it;
    gtk_list_store_append(m_Store, &it);
    gtk_list_store_set(m_Store, &it, COL_ICON, prmIcon, COL_NAME, prmName.c_str(), COL_IS_APP,
                       prmIsApp, COL_INDEX, prmIndex, -1);
  };
  const int folders = GetI4(m_Control, "SubFoldersCount");
  for (int i = 0; i < folders; ++i) {
    Call(m_Control, "SetCurSubFolder", {Variant(i)});
    add("folder", GetText(m_Control, "CurSubFolder"), false, i);
  }
  const int apps = GetI4(m_Control, "AppsCount");
  for (int i = 0; i < apps; ++i) {
    Call(m_Control, "SetCurApp", {Variant(i)});
    add("application-x-executable", GetText(m_Control, "CurAppName"), true, i);
  }
}

void TAppsView::Activate() {
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_View)), &model,
                                       &it))
    return;
  gboolean isApp = FALSE;
  int index = -1;
  gtk_tree_model_get(model, &it, COL_IS_APP, &isApp, COL_INDEX, &index, -1);
  if (isApp) {
    Call(m_Control, "SetCurApp", {Variant(index)});
    Call(m_Control, "LaunchCurApp");
    return;
  }
  Call(m_Control, "SetCurFolder", {Variant(index)});
  Refresh();
}

}  // namespace vantrel::host::gtk
