#include "host/gtk/NativeSession.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "host/gtk/GtkPageHost.h"
#include "host/gtk/PortalQuestion.h"
#include "host/vantreltcs/NativeOpen.h"
#include "host/vantreltcs/PageHost.h"
#include "host/vantreltcs/PortalOrigins.h"

namespace vantrel::host::gtk {

namespace {

// The extension sends its open request as soon as it connected.
constexpr int kOpenWaitMs = 30000;
// A question nobody answers is a No.
constexpr int kAskWaitMs = 300000;

int Refuse(const std::string& prmError) {
  WriteDebugLog("vantreltcs - the session is not opened: " + prmError);
  if (!WriteFrameNow(STDOUT_FILENO, EncodeNotOpened(prmError)))
    WriteDebugLog("vantreltcs - the refusal could not be sent");
  return 2;
}

}  // namespace

int RunNativeSession(const THostOptions& prmOptions, int prmStopFd) {
  WriteDebugLog("vantreltcs - started by " + prmOptions.Browser + " for the extension " +
                prmOptions.Caller);
  std::string message, why;
  if (!ReadFirstFrame(STDIN_FILENO, prmStopFd, kOpenWaitMs, message, why)) {
    WriteDebugLog("vantreltcs - no session: " + why);
    return 2;
  }
  TOpenRequest request;
  try {
    request = ParseOpenRequest(message);
  } catch (const EBaseException& e) {
    return Refuse(e.GetMsg());
  }
  const bool display = HasDisplay() && gtk_init_check(nullptr, nullptr);
  TAskPortal ask;
  if (display)
    ask = [prmStopFd](const std::string& prmOrigin) {
      return AskAllowPortal(prmOrigin, prmStopFd, STDIN_FILENO, kAskWaitMs);
    };
  if (!IsPortalAllowed(request.Origin, TPortalStore(), ask))
    return Refuse(PortalNotAllowed(request.Origin));
  TMapPropertyBag bag;
  try {
    bag = OpenParams(request);
  } catch (const EBaseException& e) {
    return Refuse(e.GetMsg());
  }
  WriteDebugLog("vantreltcs - session opened for " + request.Origin);
  if (request.Dialogs == TDialogPlace::Native && display)
    return RunGtkPageHost(std::move(bag), STDIN_FILENO, STDOUT_FILENO, prmStopFd, EncodeOpened());
  if (request.Dialogs == TDialogPlace::Native)
    WriteDebugLog("vantreltcs - no display for the dialogs; the page answers them");
  TPageRun run;
  run.Bag = std::move(bag);
  run.Page = true;
  run.Framing = TFraming::Native;
  run.FirstMessage = EncodeOpened();
  run.StopFd = prmStopFd;
  return RunPageHost(std::move(run));
}

}  // namespace vantrel::host::gtk
