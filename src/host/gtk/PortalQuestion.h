// The question put to the person at the display before a portal not allowed yet may start
// sessions. GTK thread; GTK must be initialised.
#pragma once

#include <string>

namespace vantrel::host::gtk {

// True only when the person answers Yes. No, closing the window, a readable prmStopFd, the end
// of prmInputFd (the browser closed the port) or prmTimeoutMs without an answer: false.
bool AskAllowPortal(const std::string& prmOrigin, int prmStopFd, int prmInputFd, int prmTimeoutMs);

}  // namespace vantrel::host::gtk
