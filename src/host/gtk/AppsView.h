// The Applications tab: the control's current application folder with its subfolders and
// applications, as its folder members answer them. A double-click opens a folder or launches an
// application; "Up" returns to the parent folder.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "control/VantrelTCSImpl.h"

namespace vantrel::host::gtk {

class TAppsView {
 public:
  explicit TAppsView(TVantrelTCSX& prmControl);
  TAppsView(const TAppsView&) = delete;
  TAppsView& operator=(const TAppsView&) = delete;

  GtkWidget* Widget() const { return m_Box; }
  // Rebuilds the rows when the current folder or its contents changed.
  void Refresh();

 private:
  void Rebuild();
  void Activate();

  TVantrelTCSX& m_Control;
  GtkListStore* m_Store;  // owned by the view
  GtkWidget* m_Box;
  GtkWidget* m_View;
  GtkWidget* m_Folder;
  GtkWidget* m_Up;
  std::string m_Shown;  // the folder name and counts the rows were built for
};

}  // namespace vantrel::host::gtk
