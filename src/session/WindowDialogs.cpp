#include "session/WindowDialogs.h"

#include <algorithm>

namespace vantrel {

TWindowDialogs::TWindowDialogs(IDialogs& prmTarget, HWND prmHwnd, TEvent& prmCancel)
    : m_Target(prmTarget), m_Hwnd(prmHwnd), m_Cancel(prmCancel) {}

int TWindowDialogs::Run(std::function<int(IDialogs&)> prmShow, int prmCancelled) {
  if (m_Cancel.IsSet()) return prmCancelled;
  if (m_Hwnd == nullptr || m_Hwnd->IsWindowThread()) return prmShow(m_Target);
  auto req = std::make_shared<TRequest>();
  req->Show = std::move(prmShow);
  intptr_t no;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    no = m_NextNo++;
    m_Requests[no] = req;
  }
  bool posted = PostMessage(m_Hwnd, WM_SessionDialog, 0, no);
  // A user may take as long as they like; only the owner going ends the wait early.
  int which = posted ? WaitForAny({&req->Done, &m_Cancel}, -1) : -1;
  std::lock_guard<std::mutex> g(m_Lock);
  m_Requests.erase(no);
  return which == 0 ? req->Result : prmCancelled;
}

void TWindowDialogs::HandleRequest(intptr_t prmRequestNo) {
  std::shared_ptr<TRequest> req;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    auto it = m_Requests.find(prmRequestNo);
    if (it == m_Requests.end()) return;
    req = it->second;
  }
  if (m_Cancel.IsSet()) return;
  int result = req->Show(m_Target);
  {
    std::lock_guard<std::mutex> g(m_Lock);
    req->Result = result;
  }
  req->Done.Set();
}

int TWindowDialogs::MessageBox(const std::string& prmText, const std::string& prmCaption,
                               uint32_t prmFlags) {
  // Copies: a request given up may still be shown after the caller returned.
  return Run([prmText, prmCaption,
              prmFlags](IDialogs& d) { return d.MessageBox(prmText, prmCaption, prmFlags); },
             IDCANCEL);
}

int TWindowDialogs::AskButtons(const std::string& prmText, const std::string& prmCaption,
                               const std::string& prmFirst, const std::string& prmSecond) {
  return Run([prmText, prmCaption, prmFirst, prmSecond](
                 IDialogs& d) { return d.AskButtons(prmText, prmCaption, prmFirst, prmSecond); },
             IDCANCEL);
}

int TWindowDialogs::Login(TLoginPrompt& prmPrompt) {
  // The window thread fills a copy, so a wait given up never leaves it writing into the caller.
  auto answer = std::make_shared<TLoginPrompt>(prmPrompt);
  int r = Run([answer](IDialogs& d) { return d.Login(*answer); }, IDCANCEL);
  if (r == IDOK) prmPrompt = *answer;
  return r;
}

int TWindowDialogs::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  auto rows = std::make_shared<std::vector<TCertRow>>(prmRows);
  return Run([rows](IDialogs& d) { return d.SelectCertificate(*rows); }, -1);
}

TServerCertAnswer TWindowDialogs::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  int r = Run([prmInfo](IDialogs& d) { return static_cast<int>(d.ConfirmServerCert(prmInfo)); },
              static_cast<int>(TServerCertAnswer::Refuse));
  return static_cast<TServerCertAnswer>(r);
}

int TWindowDialogs::AskSecret(const std::string& prmText, const std::string& prmCaption,
                              std::string& prmSecret) {
  // As for Login: the window thread writes into a copy, which is wiped once handed over.
  auto answer = std::make_shared<std::string>();
  int r = Run([prmText, prmCaption,
               answer](IDialogs& d) { return d.AskSecret(prmText, prmCaption, *answer); },
              IDCANCEL);
  if (r == IDOK) prmSecret = *answer;
  std::fill(answer->begin(), answer->end(), '\0');
  return r;
}

}  // namespace vantrel
