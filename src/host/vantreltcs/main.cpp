// vantreltcs: hosts the thin-client control as the portal page would. It runs the window thread,
// creates the control, loads the start parameters (options, a session file or a vantrel: URL)
// and, with --api stdio, lets a page drive it over JSON lines; started by the browser, the portal
// page drives it over native messaging; on a terminal a person types commands. The end of
// standard input (or SIGINT/SIGTERM, or "quit") releases the control.
#include <signal.h>
#include <sys/signalfd.h>

#include <cstdio>

#include "diag/Exceptions.h"
#include "diag/UniqueFd.h"
#include "host/gtk/GtkHost.h"
#include "host/gtk/NativeSession.h"
#include "host/vantreltcs/BrowserRegistration.h"
#include "host/vantreltcs/HostOptions.h"
#include "host/vantreltcs/PageHost.h"
#include "platform/ProcessHardening.h"

using namespace vantrel;
using namespace vantrel::host;

namespace {

// Blocks the stop signals in every thread to come; they arrive through the returned fd. A hang-up
// (the terminal's window closed) releases the control like the others instead of killing it.
int StopSignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A page that stops reading must not kill the host in the middle of its shutdown.
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

int Run(const THostOptions& prmOptions) {
  TUniqueFd sigFd(StopSignalFd());
  if (prmOptions.Api == TApiKind::Native) return gtk::RunNativeSession(prmOptions, sigFd.Get());
  if (prmOptions.Ui == TUiKind::Gtk) return gtk::RunGtkHost(prmOptions.Bag, sigFd.Get());
  TPageRun run;
  run.Bag = prmOptions.Bag;
  run.Page = prmOptions.Api == TApiKind::Stdio;
  run.Terminal = prmOptions.Ui == TUiKind::Terminal;
  run.StopFd = sigFd.Get();
  return RunPageHost(std::move(run));
}

}  // namespace

int main(int argc, char** argv) {
  HardenProcess();
  try {
    THostOptions options = ParseHostOptions({argv + 1, argv + argc}, HasDisplay());
    if (options.Help) {
      std::fputs(HostUsage(), stdout);
      return 0;
    }
    if (options.RegisterBrowsers) return RegisterBrowsers(stdout, stderr);
    return Run(options);
  } catch (const EBaseException& e) {
    std::fprintf(stderr, "vantreltcs: %s\n%s", e.GetMsg().c_str(), HostUsage());
    return 2;
  }
}
