#include "host/gtk/GtkUtil.h"

#include <glib-unix.h>

namespace vantrel::host::gtk {

namespace {

using TFn = std::function<void()>;

void RunFn(gpointer prmFn) {
  (*static_cast<TFn*>(prmFn))();
}

void FreeFn(gpointer prmFn, GClosure*) {
  delete static_cast<TFn*>(prmFn);
}

gboolean RunFdFn(gint, GIOCondition, gpointer prmFn) {
  (*static_cast<TFn*>(prmFn))();
  return G_SOURCE_CONTINUE;
}

}  // namespace

void OnSignal(gpointer prmObject, const char* prmSignal, std::function<void()> prmFn) {
  // Swapped: the function pointer comes first, so one handler fits every signal's arguments.
  g_signal_connect_data(prmObject, prmSignal, G_CALLBACK(RunFn), new TFn(std::move(prmFn)), FreeFn,
                        G_CONNECT_SWAPPED);
}

GSource* WatchFd(int prmFd, bool prmRecurse, std::function<void()> prmFn) {
  GSource* source = g_unix_fd_source_new(prmFd, G_IO_IN);
  g_source_set_callback(
      source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(RunFdFn)),
      new TFn(std::move(prmFn)), [](gpointer prmFn) { delete static_cast<TFn*>(prmFn); });
  g_source_set_can_recurse(source, prmRecurse ? TRUE : FALSE);
  g_source_attach(source, nullptr);
  return source;
}

void DropSource(GSource*& prmSource) {
  if (prmSource == nullptr) return;
  g_source_destroy(prmSource);
  g_source_unref(prmSource);
  prmSource = nullptr;
}

GtkWidget* FindNamed(GtkWidget* prmRoot, const std::string& prmName) {
  if (prmRoot == nullptr) return nullptr;
  if (prmName == gtk_widget_get_name(prmRoot)) return prmRoot;
  if (!GTK_IS_CONTAINER(prmRoot)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(prmRoot));
  GtkWidget* found = nullptr;
  for (GList* c = children; c != nullptr && found == nullptr; c = c->next)
    found = FindNamed(GTK_WIDGET(c->data), prmName);
  g_list_free(children);
  return found;
}

GtkWidget* Named(GtkWidget* prmWidget, const char* prmName) {
  gtk_widget_set_name(prmWidget, prmName);
  return prmWidget;
}

std::string Mnemonic(const std::string& prmCaption) {
  std::string out;
  for (char c : prmCaption) {
    if (c == '_')
      out += "__";
    else
      out += c == '&' ? '_' : c;
  }
  return out;
}

GtkWidget* LabelLeft(const char* prmText) {
  GtkWidget* l = gtk_label_new(prmText);
  gtk_widget_set_halign(l, GTK_ALIGN_START);
  return l;
}

}  // namespace vantrel::host::gtk
