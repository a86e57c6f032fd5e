#include <algorithm>

#include "host/gtk/DialogForms.h"
#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

const char* ButtonCaption(int prmButton) {
  switch (prmButton) {
    case IDOK:
      return "_OK";
    case IDCANCEL:
      return "_Cancel";
    case IDABORT:
      return "_Abort";
    case IDRETRY:
      return "_Retry";
    case IDIGNORE:
      return "_Ignore";
    case IDYES:
      return "_Yes";
    case IDNO:
      return "_No";
    default:
      return "";
  }
}

GtkMessageType IconType(uint32_t prmFlags) {
  switch (prmFlags & MB_ICONMASK) {
    case MB_ICONERROR:
      return GTK_MESSAGE_ERROR;
    case MB_ICONQUESTION:
      return GTK_MESSAGE_QUESTION;
    case MB_ICONWARNING:
      return GTK_MESSAGE_WARNING;
    case MB_ICONINFORMATION:
      return GTK_MESSAGE_INFO;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

GtkWidget* NewBox(const std::string& prmText, const std::string& prmCaption, GtkMessageType prmType,
                  const char* prmName) {
  GtkWidget* d = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, prmType,
                                        GTK_BUTTONS_NONE, "%s", prmText.c_str());
  gtk_window_set_title(GTK_WINDOW(d), prmCaption.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  return Named(d, prmName);
}

// Shows the box, destroys it and returns its response.
int Answer(TDialogScope& prmScope, GtkWidget* prmBox) {
  int r = prmScope.WaitResponse(GTK_DIALOG(prmBox));
  gtk_widget_destroy(prmBox);
  return r;
}

}  // namespace

int RunMessageForm(TDialogScope& prmScope, const std::string& prmText,
                   const std::string& prmCaption, uint32_t prmFlags) {
  GtkWidget* box = NewBox(prmText, prmCaption, IconType(prmFlags), "dlgMessage");
  std::vector<int> buttons = MessageBoxButtons(prmFlags);
  for (int b : buttons) {
    GtkWidget* w = gtk_dialog_add_button(GTK_DIALOG(box), ButtonCaption(b), b);
    gtk_widget_set_name(w, (std::string("button") + std::to_string(b)).c_str());
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), DefaultMessageBoxResult(prmFlags));
  int r = Answer(prmScope, box);
  if (std::find(buttons.begin(), buttons.end(), r) != buttons.end()) return r;
  if ((prmFlags & MB_TYPEMASK) == MB_YESNO) return IDNO;
  if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return IDCANCEL;
  return DefaultMessageBoxResult(prmFlags);
}

int RunButtonsForm(TDialogScope& prmScope, const std::string& prmText,
                   const std::string& prmCaption, const std::string& prmFirst,
                   const std::string& prmSecond) {
  GtkWidget* box = NewBox(prmText, prmCaption, GTK_MESSAGE_INFO, "dlgButtons");
  Named(gtk_dialog_add_button(GTK_DIALOG(box), prmFirst.c_str(), IDYES), "buttonFirst");
  Named(gtk_dialog_add_button(GTK_DIALOG(box), prmSecond.c_str(), IDNO), "buttonSecond");
  gtk_dialog_set_default_response(GTK_DIALOG(box), IDYES);
  int r = Answer(prmScope, box);
  return r == IDYES || r == IDNO ? r : IDCANCEL;
}

}  // namespace vantrel::host::gtk
