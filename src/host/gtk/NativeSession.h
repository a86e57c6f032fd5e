// vantreltcs as the browser's native-messaging host: the first message opens the session for a
// portal origin, which the host alone decides on (PortalOrigins.h), asking the person at the
// display when it may; then the page drives the control, its dialogs shown by the page or as
// windows (GtkPageHost.h).
#pragma once

#include "host/vantreltcs/HostOptions.h"

namespace vantrel::host::gtk {

// The program's exit status: 2 when the session was not opened (the browser was told why).
int RunNativeSession(const THostOptions& prmOptions, int prmStopFd);

}  // namespace vantrel::host::gtk
