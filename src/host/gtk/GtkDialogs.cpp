#include "host/gtk/GtkDialogs.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace vantrel::host::gtk {

struct TGtkDialogs::TRequest {
  TGtkDialogs* Owner = nullptr;
  std::function<int(TDialogScope&)> Show;
  std::atomic<int> Result{0};
  TEvent Done{true};
};

TGtkDialogs::TGtkDialogs() : m_GtkThread(std::this_thread::get_id()) {}

void TGtkDialogs::Cancel() {
  m_Cancel.Set();
  m_Scope.CancelAll();
}

gboolean TGtkDialogs::ShowRequest(gpointer prmRequest) {
  auto& req = *static_cast<std::shared_ptr<TRequest>*>(prmRequest);
  // Given up meanwhile: the asking thread has gone on with the dismissed answer.
  if (!req->Owner->m_Cancel.IsSet()) {
    req->Result = req->Show(req->Owner->m_Scope);
    req->Done.Set();
  }
  return G_SOURCE_REMOVE;
}

int TGtkDialogs::Run(std::function<int(TDialogScope&)> prmShow, int prmCancelled) {
  if (m_Cancel.IsSet()) return prmCancelled;
  if (std::this_thread::get_id() == m_GtkThread) return prmShow(m_Scope);
  auto req = std::make_shared<TRequest>();
  req->Owner = this;
  req->Show = std::move(prmShow);
  g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, ShowRequest,
                             new std::shared_ptr<TRequest>(req),
                             [](gpointer p) { delete static_cast<std::shared_ptr<TRequest>*>(p); });
  // A person may take as long as they like; releasing the control ends the wait.
  return WaitForAny({&req->Done, &m_Cancel}, -1) == 0 ? req->Result.load() : prmCancelled;
}

int TGtkDialogs::MessageBox(const std::string& prmText, const std::string& prmCaption,
                            uint32_t prmFlags) {
  // Copies: a request given up may still be shown after the caller returned.
  return Run([prmText, prmCaption, prmFlags](
                 TDialogScope& s) { return RunMessageForm(s, prmText, prmCaption, prmFlags); },
             (prmFlags & MB_TYPEMASK) == MB_YESNO ? IDNO : IDCANCEL);
}

int TGtkDialogs::AskButtons(const std::string& prmText, const std::string& prmCaption,
                            const std::string& prmFirst, const std::string& prmSecond) {
  return Run(
      [prmText, prmCaption, prmFirst, prmSecond](TDialogScope& s) {
        return RunButtonsForm(s, prmText, prmCaption, prmFirst, prmSecond);
      },
      IDCANCEL);
}

int TGtkDialogs::Login(TLoginPrompt& prmPrompt) {
  // The GTK thread fills a copy, so a wait given up never leaves it writing into the caller.
  auto answer = std::make_shared<TLoginPrompt>(prmPrompt);
  int r = Run([answer](TDialogScope& s) { return RunLoginForm(s, *answer); }, IDCANCEL);
  if (r == IDOK) prmPrompt = *answer;
  return r;
}

int TGtkDialogs::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  return Run([prmRows](TDialogScope& s) { return RunCertForm(s, prmRows); }, -1);
}

TServerCertAnswer TGtkDialogs::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  const int r =
      Run([prmInfo](TDialogScope& s) { return static_cast<int>(RunServerCertForm(s, prmInfo)); },
          static_cast<int>(TServerCertAnswer::Refuse));
  return static_cast<TServerCertAnswer>(r);
}

int TGtkDialogs::AskSecret(const std::string& prmText, const std::string& prmCaption,
                           std::string& prmSecret) {
  // As for Login: the GTK thread writes into a copy, wiped once handed over.
  auto answer = std::make_shared<std::string>();
  const int r = Run([prmText, prmCaption, answer](
                        TDialogScope& s) { return RunSecretForm(s, prmText, prmCaption, *answer); },
                    IDCANCEL);
  if (r == IDOK) prmSecret = *answer;
  std::fill(answer->begin(), answer->end(), '\0');
  return r;
}

}  // namespace vantrel::host::gtk
