#include "host/gtk/FormWindow.h"

#include <algorithm>

#include "host/gtk/ControlCalls.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

// Statuses and list states arrive as window messages; the window also looks every so often.
constexpr guint kRefreshMs = 150;

GtkWidget* Grid() {
  GtkWidget* g = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(g), 6);
  gtk_grid_set_column_spacing(GTK_GRID(g), 8);
  gtk_container_set_border_width(GTK_CONTAINER(g), 8);
  return g;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer prmClose) {
  (*static_cast<std::function<void()>*>(prmClose))();
  return TRUE;  // the host destroys the window once the control is released
}

}  // namespace

double ProgressFraction(const std::string& prmStatus) {
  const std::string tail = ") ...";
  if (prmStatus.size() < tail.size() + 2 ||
      prmStatus.compare(prmStatus.size() - tail.size(), tail.size(), tail) != 0)
    return -1;
  size_t open = prmStatus.rfind('(', prmStatus.size() - tail.size());
  if (open == std::string::npos) return -1;
  std::string digits = prmStatus.substr(open + 1, prmStatus.size() - tail.size() - open - 1);
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  int percent = std::stoi(digits);
  return percent > 100 ? -1 : percent / 100.0;
}

std::string DownloadText(uint64_t prmDone, uint64_t prmTotal) {
  char* done = g_format_size(prmDone);
  char* total = g_format_size(prmTotal);
  std::string text = std::string(done) + " of " + total;
  g_free(done);
  g_free(total);
  return text;
}

std::string WindowTitle(const std::string& prmGateway) {
  return prmGateway.empty() ? "Vantrel" : "Vantrel - " + prmGateway;
}

TFormWindow::TFormWindow(TVantrelTCSX& prmControl, std::function<void()> prmClose,
                         const std::string& prmTitle)
    : m_Control(prmControl), m_Close(std::move(prmClose)) {
  m_Window = Named(gtk_window_new(GTK_WINDOW_TOPLEVEL), "VantrelTCSX");
  gtk_window_set_title(GTK_WINDOW(m_Window), prmTitle.c_str());
  gtk_window_set_default_size(GTK_WINDOW(m_Window), 520, 560);
  g_signal_connect(m_Window, "delete-event", G_CALLBACK(OnDelete), &m_Close);
  m_Desktops = std::make_unique<TDesktopList>(m_Control, [this] { ConnectClicked(false); });
  m_Apps = std::make_unique<TAppsView>(m_Control);

  GtkWidget* tabs = Named(gtk_notebook_new(), "PageControl1");
  gtk_notebook_append_page(GTK_NOTEBOOK(tabs), GeneralTab(), gtk_label_new("General"));
  gtk_notebook_append_page(GTK_NOTEBOOK(tabs), PerformanceTab(), gtk_label_new("Performance"));
  gtk_notebook_append_page(GTK_NOTEBOOK(tabs), AdvancedTab(), gtk_label_new("Advanced"));
  gtk_notebook_append_page(GTK_NOTEBOOK(tabs), m_Apps->Widget(), gtk_label_new("Applications"));
  m_Bindings.push_back(BindState(m_Control.Form().PageControl1, tabs));

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 6);
  gtk_box_pack_start(GTK_BOX(box), StatusLine(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), tabs, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), Buttons(), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(m_Window), box);
  m_Timer = g_timeout_add(
      kRefreshMs,
      [](gpointer prmSelf) {
        static_cast<TFormWindow*>(prmSelf)->Refresh();
        return gboolean(G_SOURCE_CONTINUE);
      },
      this);
}

TFormWindow::~TFormWindow() {
  g_source_remove(m_Timer);
  g_signal_handlers_disconnect_by_data(m_Window, &m_Close);
  gtk_widget_destroy(m_Window);
}

GtkWidget* TFormWindow::Check(TCheckBox& prmModel, const char* prmName, TChanged prmChanged) {
  GtkWidget* w =
      Named(gtk_check_button_new_with_mnemonic(Mnemonic(prmModel.Caption).c_str()), prmName);
  m_Bindings.push_back(BindCheck(prmModel, w, std::move(prmChanged)));
  return w;
}

GtkWidget* TFormWindow::Combo(TComboBox& prmModel, const char* prmName, TChanged prmChanged) {
  GtkWidget* w = Named(gtk_combo_box_text_new(), prmName);
  gtk_widget_set_hexpand(w, TRUE);
  m_Bindings.push_back(BindCombo(prmModel, w, std::move(prmChanged)));
  return w;
}

GtkWidget* TFormWindow::Edit(TEdit& prmModel, const char* prmName) {
  GtkWidget* w = Named(gtk_entry_new(), prmName);
  gtk_entry_set_width_chars(GTK_ENTRY(w), 6);
  m_Bindings.push_back(BindEdit(prmModel, w));
  return w;
}

GtkWidget* TFormWindow::StatusLine() {
  m_Spinner = Named(gtk_spinner_new(), "imProg");
  m_Alert =
      Named(gtk_image_new_from_icon_name("dialog-warning", GTK_ICON_SIZE_LARGE_TOOLBAR), "imAlert");
  m_Info = Named(LabelLeft(""), "lblInfo");
  gtk_label_set_line_wrap(GTK_LABEL(m_Info), TRUE);
  m_Progress = Named(gtk_progress_bar_new(), "progress");
  gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(m_Progress), 0.1);
  GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(line), m_Spinner, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(line), m_Alert, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(line), m_Info, TRUE, TRUE, 0);
  GtkWidget* panel = Named(gtk_box_new(GTK_ORIENTATION_VERTICAL, 2), "Panel1");
  gtk_widget_set_size_request(panel, -1, 41);
  gtk_box_pack_start(GTK_BOX(panel), line, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(panel), m_Progress, FALSE, FALSE, 0);
  return panel;
}

GtkWidget* TFormWindow::GeneralTab() {
  TVantrelTCSForm& f = m_Control.Form();
  GtkWidget* g = Grid();
  GtkWidget* host = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(host), Edit(f.edHost, "edHost"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(host), m_Desktops->Widget(), TRUE, TRUE, 0);
  m_Bindings.push_back(BindState(f.cbHost, m_Desktops->Widget()));
  gtk_grid_attach(GTK_GRID(g), LabelLeft("Host\\IP Address:"), 0, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(g), host, 1, 0, 3, 1);

  GtkWidget* connect =
      Named(gtk_button_new_with_mnemonic(Mnemonic(f.btConnect.Caption).c_str()), "btConnect");
  GtkWidget* connectAs =
      Named(gtk_button_new_with_mnemonic(Mnemonic(f.btConnectAs.Caption).c_str()), "btConnectAs");
  OnSignal(connect, "clicked", [this] { ConnectClicked(false); });
  OnSignal(connectAs, "clicked", [this] { ConnectClicked(true); });
  m_Bindings.push_back(BindState(f.btConnect, connect));
  m_Bindings.push_back(BindState(f.btConnectAs, connectAs));
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_end(GTK_BOX(buttons), connectAs, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(buttons), connect, FALSE, FALSE, 0);
  gtk_grid_attach(GTK_GRID(g), buttons, 0, 1, 4, 1);

  gtk_grid_attach(GTK_GRID(g), LabelLeft("Size:"), 0, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(g),
                  Combo(f.cbSize, "cbSize",
                        [this] {
                          m_Control.Form().cbSizeSelect(m_Control.DBMng().GetDefWidth(),
                                                        m_Control.DBMng().GetDefHeight());
                          Refresh();
                        }),
                  1, 2, 3, 1);
  gtk_grid_attach(GTK_GRID(g), LabelLeft("Width:"), 0, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Edit(f.edWidth, "edWidth"), 1, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), LabelLeft("Height:"), 2, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Edit(f.edHeight, "edHeight"), 3, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Check(f.cbSpan, "cbSpan"), 1, 4, 3, 1);
  gtk_grid_attach(GTK_GRID(g), LabelLeft("Color Depth:"), 0, 5, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Combo(f.cbColor, "cbColor"), 1, 5, 3, 1);
  gtk_grid_attach(GTK_GRID(g), LabelLeft("Sound:"), 0, 6, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Combo(f.cbSound, "cbSound"), 1, 6, 3, 1);

  // Redirection goes through the control's members, which also keep the session's flag set.
  GtkWidget* redir = Grid();
  auto box = [&](TCheckBox& prmBox, const char* prmName, const char* prmMember, int prmCol,
                 int prmRow, TChanged prmAlso = {}) {
    TChanged changed = [this, &prmBox, prmMember, also = std::move(prmAlso)] {
      Put(m_Control, prmMember, prmBox.Checked ? 1 : 0);
      if (also) also();
      Refresh();
    };
    gtk_grid_attach(GTK_GRID(redir), Check(prmBox, prmName, std::move(changed)), prmCol, prmRow, 1,
                    1);
  };
  box(f.cbDrv, "cbDrv", "RedirDrives", 0, 0);
  box(f.cbPrt, "cbPrt", "RedirPrinters", 1, 0);
  box(f.cbPorts, "cbPorts", "RedirPorts", 0, 1);
  box(f.cbSmartCards, "cbSmartCards", "RedirSmartCards", 1, 1);
  box(f.cbClipboard, "cbClipboard", "RedirClipboard", 0, 2,
      [this] { m_Control.Form().cbClipboardClick(m_Control.TCSMng().GetRDPMajVer()); });
  box(f.cbPOS, "cbPOS", "RedirPOSDev", 1, 2);
  GtkWidget* group = Named(gtk_frame_new("Redirection"), "gbRedirection");
  gtk_container_add(GTK_CONTAINER(group), redir);
  m_Bindings.push_back(BindState(f.gbRedirection, group));
  gtk_grid_attach(GTK_GRID(g), group, 0, 7, 4, 1);
  return g;
}

GtkWidget* TFormWindow::PerformanceTab() {
  TVantrelTCSForm& f = m_Control.Form();
  GtkWidget* g = Grid();
  gtk_grid_attach(GTK_GRID(g),
                  Combo(f.cbxConnType, "cbxConnType",
                        [this] {
                          m_Control.Form().cbxConnTypeChange();
                          Refresh();
                        }),
                  0, 0, 1, 1);
  GtkWidget* boxes = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_container_set_border_width(GTK_CONTAINER(boxes), 6);
  gtk_box_pack_start(GTK_BOX(boxes), Check(f.cbBitmapCache, "cbBitmapCache"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(boxes), Check(f.cbDesktopWallpaper, "cbDesktopWallpaper"), FALSE,
                     FALSE, 0);
  gtk_box_pack_start(GTK_BOX(boxes), Check(f.cbFullWindowDrag, "cbFullWindowDrag"), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(boxes), Check(f.cbMenuAnim, "cbMenuAnim"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(boxes), Check(f.cbThemes, "cbThemes"), FALSE, FALSE, 0);
  GtkWidget* group = gtk_frame_new("Disable the following options:");
  gtk_container_add(GTK_CONTAINER(group), boxes);
  gtk_grid_attach(GTK_GRID(g), group, 0, 1, 1, 1);
  GtkWidget* recommend =
      Named(gtk_button_new_with_label(f.btRecommend.Caption.c_str()), "btRecommend");
  m_Bindings.push_back(BindState(f.btRecommend, recommend));
  gtk_grid_attach(GTK_GRID(g), recommend, 0, 2, 1, 1);
  return g;
}

GtkWidget* TFormWindow::AdvancedTab() {
  GtkWidget* g = Grid();
  gtk_grid_attach(GTK_GRID(g), Check(m_Control.Form().cbConnectToConsole, "cbConnectToConsole"), 0,
                  0, 1, 1);
  return g;
}

GtkWidget* TFormWindow::Buttons() {
  GtkWidget* end = Named(gtk_button_new_with_mnemonic("_End Session"), "btEnd");
  OnSignal(end, "clicked", [this] { m_Close(); });
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_end(GTK_BOX(box), end, FALSE, FALSE, 0);
  return box;
}

void TFormWindow::ConnectClicked(bool prmConnectAs) {
  m_Control.btConnectClick(prmConnectAs);
  Refresh();
}

void TFormWindow::Show() {
  gtk_widget_show_all(m_Window);
  Refresh();
}

void TFormWindow::Refresh() {
  for (auto& b : m_Bindings) b->Pull();
  PullStatus();
  m_Desktops->Refresh();
  m_Apps->Refresh();
}

void TFormWindow::PullStatus() {
  const TVantrelTCSForm& f = m_Control.Form();
  gtk_widget_set_visible(m_Spinner, f.imProg.Visible);
  if (f.imProg.Visible)
    gtk_spinner_start(GTK_SPINNER(m_Spinner));
  else
    gtk_spinner_stop(GTK_SPINNER(m_Spinner));
  gtk_widget_set_visible(m_Alert, f.imAlert.Visible);
  gtk_widget_set_visible(m_Info, f.lblInfo.Visible);
  const std::string shown = (f.lblInfo.Red ? "!" : " ") + f.lblInfo.Caption;
  if (shown != m_InfoShown) {
    m_InfoShown = shown;
    char* markup = g_markup_printf_escaped(
        f.lblInfo.Red ? "<span foreground=\"#c00000\">%s</span>" : "%s", f.lblInfo.Caption.c_str());
    gtk_label_set_markup(GTK_LABEL(m_Info), markup);
    g_free(markup);
  }
  gtk_widget_set_visible(m_Progress, f.imProg.Visible);
  if (!f.imProg.Visible) return;
  double done = ProgressFraction(f.lblInfo.Caption);
  if (f.Download.Total > 0) {
    done = std::min(1.0, static_cast<double>(f.Download.Done) / f.Download.Total);
    const std::string text = DownloadText(f.Download.Done, f.Download.Total);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_Progress), done);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(m_Progress), text.c_str());
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(m_Progress), TRUE);
  } else if (done >= 0) {
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_Progress), done);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(m_Progress), nullptr);
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(m_Progress), TRUE);
  } else {
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(m_Progress), FALSE);
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(m_Progress));
  }
}

}  // namespace vantrel::host::gtk
