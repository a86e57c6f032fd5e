// vantreltcs with a window: the control lives on the GTK thread, which is therefore also its
// window thread. The control's messages are handled from GTK's main loop (also inside dialogs),
// and closing the window or a stop signal releases the control in order: its waits end, open
// dialogs close as cancelled, then the control goes and the window with it.
#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "control/PropertyBag.h"
#include "control/VantrelTCSImpl.h"
#include "host/gtk/FormWindow.h"
#include "host/gtk/GtkDialogs.h"

namespace vantrel::host::gtk {

class TGtkHost {
 public:
  // GTK must be initialised. Creates the control and its window and loads prmBag (which starts
  // the session). prmStopFd (-1 for none) closes the window when readable.
  TGtkHost(const TMapPropertyBag& prmBag, int prmStopFd);
  // Releases the control as Close does, then frees it and the window.
  ~TGtkHost();
  TGtkHost(const TGtkHost&) = delete;
  TGtkHost& operator=(const TGtkHost&) = delete;

  // The window was closed (or a stop signal came): the loop ends.
  bool Closed() const { return m_Closed; }
  void Close();
  // Handles GTK's events and the control's messages until Closed.
  void Run();

  GtkWindow* Window() const { return m_Form->Window(); }
  TVantrelTCSX& Control() { return *m_Control; }

 private:
  static gboolean OnWindowMessages(gint prmFd, GIOCondition prmCondition, gpointer prmSelf);

  TGtkDialogs m_Dialogs;  // first: the control borrows it
  std::unique_ptr<TVantrelTCSX> m_Control;
  std::unique_ptr<TFormWindow> m_Form;
  GSource* m_Messages = nullptr;
  guint m_Stop = 0;
  bool m_Closed = false;
};

// The program's run with the window: 0, or 2 when no display could be opened.
int RunGtkHost(const TMapPropertyBag& prmBag, int prmStopFd);

}  // namespace vantrel::host::gtk
