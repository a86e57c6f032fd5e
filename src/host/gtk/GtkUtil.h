// Small helpers shared by the window and its dialogs.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace vantrel::host::gtk {

// Runs prmFn on every emission of prmSignal, a signal without a return value; the function is
// freed with the object.
void OnSignal(gpointer prmObject, const char* prmSignal, std::function<void()> prmFn);
// The descendant of prmRoot (or prmRoot itself) named prmName with gtk_widget_set_name, or null.
GtkWidget* FindNamed(GtkWidget* prmRoot, const std::string& prmName);
// A widget named for tests and accessibility.
GtkWidget* Named(GtkWidget* prmWidget, const char* prmName);
// A caption with '&' marking its access key, as a GTK mnemonic ("&Connect" -> "_Connect").
std::string Mnemonic(const std::string& prmCaption);
// Runs prmFn on this thread's main loop whenever prmFd is readable, until the source is
// destroyed with DropSource. prmRecurse lets it run inside a dialog's own loop as well.
GSource* WatchFd(int prmFd, bool prmRecurse, std::function<void()> prmFn);
// Destroys and releases a source of WatchFd (null is fine) and clears the pointer.
void DropSource(GSource*& prmSource);
// A left-aligned label.
GtkWidget* LabelLeft(const char* prmText);

}  // namespace vantrel::host::gtk
