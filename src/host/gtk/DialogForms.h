// The window forms of the dialogs, each its own small unit, all shown on the GTK thread through
// one scope that knows which are open, so releasing the control can close them.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace vantrel::host::gtk {

class TDialogScope {
 public:
  // The window dialogs stay above; null for none.
  void SetParent(GtkWindow* prmParent) { m_Parent = prmParent; }
  // Closes every open dialog as cancelled; dialogs shown later are cancelled at once.
  void CancelAll();
  bool Cancelled() const { return m_Cancelled; }
  // Shows prmDialog modally and waits (handling GTK's events) for its next response; closing it
  // or cancelling the scope answers GTK_RESPONSE_CANCEL. The dialog stays alive for the caller.
  int WaitResponse(GtkDialog* prmDialog);

 private:
  GtkWindow* m_Parent = nullptr;
  bool m_Cancelled = false;
  std::vector<GtkDialog*> m_Open;
};

// Message box: the buttons, icon and default button of prmFlags; a box closed without a button
// answers as a dismissed one (No for Yes/No, else Cancel when it has one, else its default).
int RunMessageForm(TDialogScope& prmScope, const std::string& prmText,
                   const std::string& prmCaption, uint32_t prmFlags);
// Two captioned buttons: IDYES for the first, IDNO for the second, IDCANCEL when closed.
int RunButtonsForm(TDialogScope& prmScope, const std::string& prmText,
                   const std::string& prmCaption, const std::string& prmFirst,
                   const std::string& prmSecond);
// Login and proxy credentials: IDOK with the entered texts in prmPrompt, or IDCANCEL.
int RunLoginForm(TDialogScope& prmScope, TLoginPrompt& prmPrompt);
// Certificate choice: the chosen row, or -1 when cancelled. OK needs a selected row.
int RunCertForm(TDialogScope& prmScope, const std::vector<TCertRow>& prmRows);
// A passphrase or PIN in a hidden entry: IDOK with the text in prmSecret, or IDCANCEL.
int RunSecretForm(TDialogScope& prmScope, const std::string& prmText, const std::string& prmCaption,
                  std::string& prmSecret);
// The gateway's unverified certificate: refuse (also when closed), accept once, or remember.
TServerCertAnswer RunServerCertForm(TDialogScope& prmScope, const TServerCertInfo& prmInfo);

}  // namespace vantrel::host::gtk
