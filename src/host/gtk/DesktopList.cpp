#include "host/gtk/DesktopList.h"

#include "host/gtk/ControlCalls.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

enum { COL_NAME, COL_ADDRESS, COL_STATE, COL_DAYS, COL_COUNT };

constexpr gint64 kStatesEveryUs = 1000000;

}  // namespace

const char* DesktopStateText(int prmState) {
  static const char* const kStates[] = {"Off", "Stopped", "Starting", "Running", "Failed"};
  return prmState >= 0 && prmState < 5 ? kStates[prmState] : "Unknown";
}

TDesktopList::TDesktopList(TVantrelTCSX& prmControl, std::function<void()> prmActivated)
    : m_Control(prmControl),
      m_Store(gtk_list_store_new(COL_COUNT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                                 G_TYPE_STRING)) {
  m_View = Named(gtk_tree_view_new_with_model(GTK_TREE_MODEL(m_Store)), "cbHost");
  g_object_unref(m_Store);
  const char* titles[COL_COUNT] = {"Desktop", "Address", "State", "Days left"};
  for (int c = 0; c < COL_COUNT; ++c) {
    GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
        titles[c], gtk_cell_renderer_text_new(), "text", c, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_expand(col, c == COL_NAME);
    gtk_tree_view_append_column(GTK_TREE_VIEW(m_View), col);
  }
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(m_View));
  OnSignal(sel, "changed", [this, sel] {
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    int row = -1;
    if (gtk_tree_selection_get_selected(sel, &model, &it)) {
      GtkTreePath* path = gtk_tree_model_get_path(model, &it);
      row = gtk_tree_path_get_indices(path)[0];
      gtk_tree_path_free(path);
    }
    m_Control.Form().cbHost.Select(row);
  });
  OnSignal(m_View, "row-activated", std::move(prmActivated));
  m_Scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(m_Scroll), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(m_Scroll), GTK_SHADOW_IN);
  gtk_widget_set_size_request(m_Scroll, -1, 110);
  gtk_widget_set_hexpand(m_Scroll, TRUE);
  gtk_container_add(GTK_CONTAINER(m_Scroll), m_View);
}

void TDesktopList::Refresh() {
  int count = GetI4(m_Control, "RegDesktopsCount");
  if (count != m_Count) Rebuild(count);
  if (m_Count > 0 && g_get_monotonic_time() - m_StatesRead >= kStatesEveryUs) ReadStates();
}

void TDesktopList::Rebuild(int prmCount) {
  gtk_list_store_clear(m_Store);
  m_Count = prmCount;
  for (int i = 0; i < prmCount; ++i) {
    std::vector<Variant> out = Call(m_Control, "GetRegDesktop", {Variant(i)});
    std::string name = out.size() == 3 ? out[0].AsBStr() : std::string();
    std::string address = out.size() == 3 ? out[1].AsBStr() : std::string();
    int days = out.size() == 3 ? out[2].AsI4() : 0;
    GtkTreeIter it;
    gtk_list_store_append(m_Store, &it);
    gtk_list_store_set(m_Store, &it, COL_NAME, name.c_str(), COL_ADDRESS, address.c_str(), COL_DAYS,
                       days > 0 ? std::to_string(days).c_str() : "", -1);
  }
  int selected = m_Control.Form().cbHost.ItemIndex;
  if (selected < 0 && prmCount > 0) selected = 0;
  if (selected >= 0 && selected < prmCount) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(selected, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_View)), path);
    gtk_tree_path_free(path);
  }
  m_StatesRead = 0;
}

void TDesktopList::ReadStates() {
  m_StatesRead = g_get_monotonic_time();
  GtkTreeIter it;
  bool more = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(m_Store), &it);
  // The state is a member of the current desktop: visit each, then return to the selected one.
  for (int i = 0; more && i < m_Count; ++i) {
    Call(m_Control, "SetCurDesktop", {Variant(i)});
    gtk_list_store_set(m_Store, &it, COL_STATE, DesktopStateText(GetI4(m_Control, "DesktopState")),
                       -1);
    more = gtk_tree_model_iter_next(GTK_TREE_MODEL(m_Store), &it);
  }
  int selected = m_Control.Form().cbHost.ItemIndex;
  if (selected >= 0) Call(m_Control, "SetCurDesktop", {Variant(selected)});
}

}  // namespace vantrel::host::gtk
