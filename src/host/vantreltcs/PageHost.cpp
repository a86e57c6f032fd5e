#include "host/vantreltcs/PageHost.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"
#include "diag/UniqueFd.h"
#include "host/vantreltcs/HostLoop.h"
#include "host/vantreltcs/PageDialogs.h"
#include "host/vantreltcs/PageEvents.h"
#include "host/vantreltcs/TerminalUI.h"

namespace vantrel::host {

namespace {

// Without a page, standard input only tells the end. When it is the very terminal the commands
// are typed on, the terminal's own reader takes it instead ("quit", end of file, a stop signal).
int PageInputFd(bool prmPage, const TTerminalUI* prmTerminal) {
  bool console =
      !prmPage && prmTerminal != nullptr && prmTerminal->HasTerminal() && isatty(STDIN_FILENO) == 1;
  return console ? -1 : STDIN_FILENO;
}

}  // namespace

int RunPageHost(TPageRun prmRun) {
  const bool page = prmRun.Page;
  // Without a page, standard input only tells the end; nothing is written back.
  TUniqueFd nullOut(page ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC));
  const int outFd = page ? STDOUT_FILENO : nullOut.Get();

  THostLoop loop;
  std::unique_ptr<TTerminalUI> terminal;
  if (prmRun.Terminal) terminal = std::make_unique<TTerminalUI>();
  // The end of the page's input (or a stop signal, or "quit" on the terminal) also ends a prompt
  // on the terminal.
  auto release = [&] {
    loop.ReleaseAndClose();
    if (terminal) terminal->Cancel();
  };
  TPageChannel channel(
      PageInputFd(page, terminal.get()), outFd, [&loop] { loop.CallQueued(); }, release,
      prmRun.StopFd, {}, prmRun.Framing);
  TPageDialogs pageDialogs(channel);
  TLoggingDialogs noUser;
  IDialogs& dialogs = terminal && terminal->HasTerminal() ? static_cast<IDialogs&>(*terminal)
                      : page                              ? static_cast<IDialogs&>(pageDialogs)
                                                          : static_cast<IDialogs&>(noUser);
  TPageEvents events(channel);
  // Before the control exists, so nothing the control says can come first.
  if (!prmRun.FirstMessage.empty()) channel.WriteLine(prmRun.FirstMessage);
  {
    TVantrelTCSX control(dialogs);
    pageDialogs.SetWindow(&control.Window());
    if (terminal) terminal->SetWindow(&control.Window());
    if (page)
      control.Advise(&events);
    else
      control.SetNoPage();
    control.Load(prmRun.Bag);
    loop.SetReleasing(&control);
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
    loop.SetReleasing(nullptr);
    // Events fired while the control goes down still reach the page; the channel outlives it.
  }
  return 0;
}

}  // namespace vantrel::host
