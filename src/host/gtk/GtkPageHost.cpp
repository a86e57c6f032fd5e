#include "host/gtk/GtkPageHost.h"

#include "control/VantrelTCSImpl.h"
#include "diag/DebugLog.h"
#include "host/gtk/GtkDialogs.h"
#include "host/gtk/GtkUtil.h"
#include "host/vantreltcs/HostLoop.h"
#include "host/vantreltcs/PageEvents.h"

namespace vantrel::host::gtk {

namespace {

// Events still queued once the control is gone are handled without waiting; this many at most.
constexpr int kMaxDrainedEvents = 1000;

}  // namespace

int RunGtkPageHost(TMapPropertyBag prmBag, int prmInFd, int prmOutFd, int prmStopFd,
                   const std::string& prmFirstMessage) {
  THostLoop loop;
  TGtkDialogs dialogs;
  TPageChannel channel(
      prmInFd, prmOutFd, [&loop] { loop.CallQueued(); }, [&loop] { loop.ReleaseAndClose(); },
      prmStopFd, {}, TFraming::Native);
  TPageEvents events(channel);
  if (!prmFirstMessage.empty()) channel.WriteLine(prmFirstMessage);
  {
    TVantrelTCSX control(dialogs);
    control.Advise(&events);
    GSource* messages =
        WatchFd(control.Window().Fd(), true, [&control] { control.Window().ProcessMessages(); });
    GSource* calls = WatchFd(loop.CallsFd(), false, [&] {
      loop.ServeCalls(control.Window(), control.Dispatch(), channel);
    });
    // Runs inside a dialog too, so a dialog open when the page goes is closed as cancelled.
    GSource* closed = nullptr;
    closed = WatchFd(loop.ClosedFd(), true, [&] {
      dialogs.Cancel();
      g_source_destroy(closed);  // once: the event stays set
    });
    control.Load(prmBag);
    loop.SetReleasing(&control);
    channel.Start();
    while (!loop.Closed()) g_main_context_iteration(nullptr, TRUE);
    // What the page queued before its end is still answered (dialogs now answer as dismissed).
    dialogs.Cancel();
    loop.ServeCalls(control.Window(), control.Dispatch(), channel);
    WriteDebugLog("vantreltcs - the page released the control");
    loop.SetReleasing(nullptr);
    for (GSource** s : {&messages, &calls, &closed}) DropSource(*s);
  }
  for (int i = 0; i < kMaxDrainedEvents && g_main_context_pending(nullptr); ++i)
    g_main_context_iteration(nullptr, FALSE);
  return 0;
}

}  // namespace vantrel::host::gtk
