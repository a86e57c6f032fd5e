// Where the debug log writes, from this machine's settings: the DBGView switch and the viewer's
// socket. The library applies them once when it is loaded, before any session exists.
#pragma once

#include <string>

namespace vantrel {

// Path of the viewer's datagram socket (the XDG runtime folder, or a per-user /tmp folder).
std::string DebugLogSocketPath();

// Re-reads the switch and reopens the viewer's socket as at load time. For tests and for a host
// that changes its environment before the first session.
void InitDebugLog();

}  // namespace vantrel
