// vantreltcs started by the browser, with the portal page driving the control over native
// messaging while its dialogs are shown as GTK windows. This thread is the GTK thread and the
// control's window thread; the page's calls are served from GTK's main loop, one at a time and
// never inside a dialog, and the end of the page's input (or a stop signal) releases the control
// and closes any open dialog as cancelled.
#pragma once

#include <string>

#include "control/PropertyBag.h"

namespace vantrel::host::gtk {

// GTK must be initialised. The page's frames come on prmInFd and go out on prmOutFd (both
// borrowed); prmFirstMessage goes to the page before anything else. Returns the program's exit
// status once the control was released.
int RunGtkPageHost(TMapPropertyBag prmBag, int prmInFd, int prmOutFd, int prmStopFd,
                   const std::string& prmFirstMessage);

}  // namespace vantrel::host::gtk
