// The dialogs interface as GTK windows. GTK runs on one thread (the one that created this
// object); a dialog asked there is shown at once, a dialog asked on any other thread is handed
// to GTK's main loop and that thread alone waits for the answer, until Cancel.
#pragma once

#include <functional>
#include <thread>

#include "host/gtk/DialogForms.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"

namespace vantrel::host::gtk {

class TGtkDialogs final : public IDialogs {
 public:
  TGtkDialogs();
  TGtkDialogs(const TGtkDialogs&) = delete;
  TGtkDialogs& operator=(const TGtkDialogs&) = delete;

  // GTK thread. The window the dialogs stay above; null for none.
  void SetParent(GtkWindow* prmParent) { m_Scope.SetParent(prmParent); }
  // GTK thread: closes the open dialogs as cancelled and answers every later one, on any
  // thread, as a dismissed box at once. Waiting threads are released.
  void Cancel();

  VANTREL_IDIALOGS_OVERRIDES;

 private:
  struct TRequest;
  // Runs prmShow on the GTK thread; prmCancelled when cancelled before or while it waits.
  int Run(std::function<int(TDialogScope&)> prmShow, int prmCancelled);
  static gboolean ShowRequest(gpointer prmRequest);

  TDialogScope m_Scope;
  std::thread::id m_GtkThread;
  TEvent m_Cancel{true};
};

}  // namespace vantrel::host::gtk
