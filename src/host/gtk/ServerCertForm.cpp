#include "host/gtk/DialogForms.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

enum { kOnce = 1, kRemember = 2 };

void AddRow(GtkGrid* prmGrid, int prmRow, const char* prmLabel, const std::string& prmValue) {
  gtk_grid_attach(prmGrid, LabelLeft(prmLabel), 0, prmRow, 1, 1);
  GtkWidget* value = gtk_label_new(prmValue.c_str());
  gtk_label_set_selectable(GTK_LABEL(value), TRUE);
  gtk_label_set_xalign(GTK_LABEL(value), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(value), TRUE);
  gtk_grid_attach(prmGrid, value, 1, prmRow, 1, 1);
}

}  // namespace

TServerCertAnswer RunServerCertForm(TDialogScope& prmScope, const TServerCertInfo& prmInfo) {
  GtkWidget* d = Named(gtk_dialog_new(), "dlgServerCert");
  gtk_window_set_title(GTK_WINDOW(d), "Gateway certificate");
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
  GtkWidget* head = gtk_label_new("The gateway's certificate could not be verified.");
  gtk_label_set_xalign(GTK_LABEL(head), 0.0f);
  gtk_grid_attach(GTK_GRID(grid), head, 0, 0, 2, 1);
  AddRow(GTK_GRID(grid), 1, "Gateway:", prmInfo.Host + ":" + std::to_string(prmInfo.Port));
  AddRow(GTK_GRID(grid), 2, "Reason:", prmInfo.Reason);
  AddRow(GTK_GRID(grid), 3, "Subject:", prmInfo.Subject);
  AddRow(GTK_GRID(grid), 4, "Issuer:", prmInfo.Issuer);
  AddRow(GTK_GRID(grid), 5, "Valid:", prmInfo.NotBefore + " to " + prmInfo.NotAfter);
  AddRow(GTK_GRID(grid), 6, "SHA-256:", prmInfo.Fingerprint);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), grid);
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "_Refuse", GTK_RESPONSE_CANCEL), "buttonRefuse");
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "Accept _once", kOnce), "buttonOnce");
  Named(gtk_dialog_add_button(GTK_DIALOG(d), "Accept and re_member", kRemember), "buttonRemember");
  // Enter refuses: trusting a key must be a deliberate choice.
  gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
  gtk_widget_show_all(grid);
  const int r = prmScope.WaitResponse(GTK_DIALOG(d));
  gtk_widget_destroy(d);
  if (r == kOnce) return TServerCertAnswer::AcceptOnce;
  if (r == kRemember) return TServerCertAnswer::AcceptAndRemember;
  return TServerCertAnswer::Refuse;
}

}  // namespace vantrel::host::gtk
