// The embedded form as a GTK window: the status line with its progress and alert pictures, the
// General, Performance, Advanced and Applications tabs, the connect buttons and the button that
// ends the session. It draws the control's form model and feeds the user's changes back through
// the same fields and the form's handlers. GTK thread only, which is the control's window thread.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/VantrelTCSImpl.h"
#include "host/gtk/AppsView.h"
#include "host/gtk/DesktopList.h"
#include "host/gtk/FormBindings.h"

namespace vantrel::host::gtk {

class TFormWindow {
 public:
  // prmClose runs when the person closes the window or presses the end button. prmTitle names
  // the window for the person (the product and the gateway).
  TFormWindow(TVantrelTCSX& prmControl, std::function<void()> prmClose,
              const std::string& prmTitle);
  ~TFormWindow();
  TFormWindow(const TFormWindow&) = delete;
  TFormWindow& operator=(const TFormWindow&) = delete;

  GtkWindow* Window() const { return GTK_WINDOW(m_Window); }
  void Show();
  // Draws what the model changed since the last refresh.
  void Refresh();

 private:
  GtkWidget* StatusLine();
  GtkWidget* GeneralTab();
  GtkWidget* PerformanceTab();
  GtkWidget* AdvancedTab();
  GtkWidget* Buttons();
  GtkWidget* Check(TCheckBox& prmModel, const char* prmName, TChanged prmChanged = {});
  GtkWidget* Combo(TComboBox& prmModel, const char* prmName, TChanged prmChanged = {});
  GtkWidget* Edit(TEdit& prmModel, const char* prmName);
  void PullStatus();
  void ConnectClicked(bool prmConnectAs);

  TVantrelTCSX& m_Control;
  std::function<void()> m_Close;
  GtkWidget* m_Window;
  GtkWidget* m_Spinner = nullptr;
  GtkWidget* m_Alert = nullptr;
  GtkWidget* m_Info = nullptr;
  GtkWidget* m_Progress = nullptr;
  std::string m_InfoShown;  // the status text as last drawn, with its colour
  std::unique_ptr<TDesktopList> m_Desktops;
  std::unique_ptr<TAppsView> m_Apps;
  std::vector<std::unique_ptr<TBinding>> m_Bindings;
  guint m_Timer = 0;
};

// The share done of a status text that ends in "(N) ...", as the download status does; -1 for
// any other text.
double ProgressFraction(const std::string& prmStatus);
// The window's title for a session on prmGateway: "Vantrel - gw.example", or "Vantrel" alone.
std::string WindowTitle(const std::string& prmGateway);
// A download's bytes as the progress bar shows them: "1.2 MB of 3.4 MB".
std::string DownloadText(uint64_t prmDone, uint64_t prmTotal);

}  // namespace vantrel::host::gtk
