// Dialogs that worker threads ask for, shown on the window thread: each call is handed to the
// window as a posted message and its answer awaited; the owner's stop event ends the wait.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "platform/Window.h"

namespace vantrel {

// Posted to the window; the lParam is the request number for HandleRequest.
constexpr uint32_t WM_SessionDialog = WM_USER + 20;

class TWindowDialogs final : public IDialogs {
 public:
  // prmTarget shows the dialogs; prmCancel (manual reset) ends every wait and makes pending
  // requests answer as cancelled. prmHwnd null, or a call made on the window thread, shows
  // the dialog directly. All three must outlive this object.
  TWindowDialogs(IDialogs& prmTarget, HWND prmHwnd, TEvent& prmCancel);

  // Window thread, for WM_SessionDialog: shows the request, unless it was given up meanwhile.
  void HandleRequest(intptr_t prmRequestNo);

  // A cancelled dialog answers as closed: IDCANCEL (Login and AskSecret leave their entry
  // unchanged), -1 from SelectCertificate, Refuse from ConfirmServerCert.
  VANTREL_IDIALOGS_OVERRIDES;

 private:
  struct TRequest {
    std::function<int(IDialogs&)> Show;
    int Result = 0;
    TEvent Done{true};
  };
  // Runs prmShow on the window thread; prmCancelled when the wait was ended by the cancel event
  // or the window no longer takes messages.
  int Run(std::function<int(IDialogs&)> prmShow, int prmCancelled);

  IDialogs& m_Target;
  HWND m_Hwnd;
  TEvent& m_Cancel;
  std::mutex m_Lock;
  std::map<intptr_t, std::shared_ptr<TRequest>> m_Requests;
  intptr_t m_NextNo = 1;
};

}  // namespace vantrel
