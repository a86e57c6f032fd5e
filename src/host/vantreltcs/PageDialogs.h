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

  int MessageBox(const std::string& prmText, const std::string& prmCaption,
                 uint32_t prmFlags) override;
  int AskButtons(const std::string& prmText, const std::string& prmCaption,
                 const std::string& prmFirst, const std::string& prmSecond) override;
  int Login(TLoginPrompt& prmPrompt) override;
  int SelectCertificate(const std::vector<TCertRow>& prmRows) override;
  // {"dialog":"servercert",...}: the page answers "once" or "remember" to go on; any other
  // answer, or none, refuses.
  TServerCertAnswer ConfirmServerCert(const TServerCertInfo& prmInfo) override;
  int AskSecret(const std::string& prmText, const std::string& prmCaption,
                std::string& prmSecret) override;

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
