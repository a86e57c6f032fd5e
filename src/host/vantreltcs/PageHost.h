// The host without a window: the control on this thread, driven by a page over the channel on
// standard input and output, or by a person on the terminal, or by nobody (the session only
// runs until its input ends). The end of input, a stop signal or "quit" releases the control.
#pragma once

#include <string>

#include "control/PropertyBag.h"
#include "host/vantreltcs/PageFraming.h"

namespace vantrel::host {

struct TPageRun {
  TMapPropertyBag Bag;
  // A page drives the control over standard input and output, framed so.
  bool Page = false;
  TFraming Framing = TFraming::Lines;
  // Sent to the page before anything else (the browser's open answer); empty for none.
  std::string FirstMessage;
  // The form and the dialogs on the terminal (when there is one).
  bool Terminal = false;
  // Readable when the program is to stop (its signal fd); -1 for none.
  int StopFd = -1;
};

// Runs until the release; the program's exit status.
int RunPageHost(TPageRun prmRun);

}  // namespace vantrel::host
