// Dialogs answered by the page: each one goes out as a {"dialog":...} line and waits for the
// page's {"dialog_reply":...}. The wait ends when the page ends the channel; the dialog then
// gets the answer of a dismissed box (cancel, or no for a Yes/No question).
#pragma once

#include "host/vantreltcs/PageChannel.h"
#include "platform/Dialogs.h"
#include "platform/Window.h"

namespace vantrel::host {

class TPageDialogs final : public IDialogs {
 public:
  // Borrowed. On the window's thread (SetWindow) the wait keeps handling the window's messages,
  // so a worker blocked in Send is served while the page thinks.
  explicit TPageDialogs(TPageChannel& prmChannel, HWND prmWindow = nullptr);
  // The control creates its window after its dialogs; the host passes it on here.
  void SetWindow(HWND prmWindow) { m_Window = prmWindow; }

  VANTREL_IDIALOGS_OVERRIDES;

 private:
  std::optional<TDialogReply> Ask(TJson prmDialog);

  TPageChannel& m_Channel;
  HWND m_Window;
};

// The result name the page answers with, and its button value: "ok", "cancel", "abort",
// "retry", "ignore", "yes", "no"; 0 for any other text.
int ButtonFromName(const std::string& prmName);
const char* ButtonName(int prmButton);

}  // namespace vantrel::host
