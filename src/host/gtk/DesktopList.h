// The desktop list of the General tab (the form's cbHost): one row per desktop the control
// lists, with its name, address, state and days left. Selecting a row selects that desktop on
// the form; a double-click connects to it.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "control/VantrelTCSImpl.h"

namespace vantrel::host::gtk {

class TDesktopList {
 public:
  TDesktopList(TVantrelTCSX& prmControl, std::function<void()> prmActivated);
  TDesktopList(const TDesktopList&) = delete;
  TDesktopList& operator=(const TDesktopList&) = delete;

  GtkWidget* Widget() const { return m_Scroll; }
  // Rows follow the control's list; states are read again at most once a second.
  void Refresh();

 private:
  void Rebuild(int prmCount);
  void ReadStates();

  TVantrelTCSX& m_Control;
  GtkListStore* m_Store;  // owned by the view
  GtkWidget* m_View;
  GtkWidget* m_Scroll;
  int m_Count = 0;
  gint64 m_StatesRead = 0;
};

// The availability server's desktop state as a word ("Running", ...).
const char* DesktopStateText(int prmState);

}  // namespace vantrel::host::gtk
