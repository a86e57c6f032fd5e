// vantreltcs: hosts the thin-client control as the portal page would. It runs the window thread,
// creates the control, loads the start parameters (options, a session file or a vantrel: URL)
// and, with --api stdio, lets a page drive it over JSON lines; on a terminal a person types
// commands. The end of standard input (or SIGINT/SIGTERM, or "quit") releases the control.
#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/UniqueFd.h"
#include "host/gtk/GtkHost.h"
#include "host/vantreltcs/HostLoop.h"
#include "host/vantreltcs/HostOptions.h"
#include "host/vantreltcs/PageDialogs.h"
#include "host/vantreltcs/PageEvents.h"
#include "host/vantreltcs/TerminalUI.h"
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

// Without a page, standard input only tells the end. When it is the very terminal the commands
// are typed on, the terminal's own reader takes it instead ("quit", end of file, a stop signal).
int PageInputFd(bool prmPage, const TTerminalUI* prmTerminal) {
  bool console =
      !prmPage && prmTerminal != nullptr && prmTerminal->HasTerminal() && isatty(STDIN_FILENO) == 1;
  return console ? -1 : STDIN_FILENO;
}

int Run(const THostOptions& prmOptions) {
  bool page = prmOptions.Api == TApiKind::Stdio;
  TUniqueFd sigFd(StopSignalFd());
  if (prmOptions.Ui == TUiKind::Gtk) return gtk::RunGtkHost(prmOptions.Bag, sigFd.Get());
  // Without a page, standard input only tells the end; nothing is written back.
  TUniqueFd nullOut(page ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC));
  const int outFd = page ? STDOUT_FILENO : nullOut.Get();

  THostLoop loop;
  std::unique_ptr<TTerminalUI> terminal;
  if (prmOptions.Ui == TUiKind::Terminal) terminal = std::make_unique<TTerminalUI>();
  // The control to tell when the channel ends; set while it lives. The channel may end on any
  // thread (its reader, or a writer that found the page gone), hence the lock.
  std::mutex releaseLock;
  TVantrelTCSX* releasing = nullptr;
  // The end of the page's input (or a stop signal, or "quit" on the terminal) starts the release
  // at once: the session's waits end even while the window thread is inside a call, and a
  // prompt on the terminal ends.
  auto release = [&] {
    {
      std::lock_guard<std::mutex> g(releaseLock);
      if (releasing != nullptr) releasing->RequestRelease();
    }
    loop.ChannelClosed();
    if (terminal) terminal->Cancel();
  };
  TPageChannel channel(
      PageInputFd(page, terminal.get()), outFd, [&loop] { loop.CallQueued(); }, release,
      sigFd.Get());
  TPageDialogs pageDialogs(channel);
  TLoggingDialogs noUser;
  IDialogs& dialogs = terminal && terminal->HasTerminal() ? static_cast<IDialogs&>(*terminal)
                      : page                              ? static_cast<IDialogs&>(pageDialogs)
                                                          : static_cast<IDialogs&>(noUser);
  TPageEvents events(channel);
  {
    TVantrelTCSX control(dialogs);
    pageDialogs.SetWindow(&control.Window());
    if (terminal) terminal->SetWindow(&control.Window());
    if (page) control.Advise(&events);
    TMapPropertyBag bag = prmOptions.Bag;
    control.Load(bag);
    {
      std::lock_guard<std::mutex> g(releaseLock);
      releasing = &control;
    }
    channel.Start();
    std::function<void()> idle;
    if (terminal) {
      terminal->StartCommands([&loop] { loop.CallQueued(); }, release);
      idle = [&] {
        terminal->Render(control);
        terminal->RunCommands(control.Dispatch());
      };
    }
    loop.Run(control.Window(), control.Dispatch(), channel, idle);
    WriteDebugLog("vantreltcs - the page released the control");
    {
      std::lock_guard<std::mutex> g(releaseLock);
      releasing = nullptr;
    }
    // Events fired while the control goes down still reach the page; the channel outlives it.
  }
  return 0;
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
    return Run(options);
  } catch (const EBaseException& e) {
    std::fprintf(stderr, "vantreltcs: %s\n%s", e.GetMsg().c_str(), HostUsage());
    return 2;
  }
}
