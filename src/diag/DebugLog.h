// Debug log channel: one record per line to the log viewer's socket, or to standard error when
// the DBGView switch is on. Safe from any thread; never raises.
#pragma once

#include <string>

namespace vantrel {

void WriteDebugLog(const std::string& prmText);

// Re-reads the switch and reopens the viewer's socket as at load time. For tests and for a host
// that changes its environment before the first session.
void InitDebugLog();

// Path of the viewer's datagram socket (the XDG runtime folder, or a per-user /tmp folder).
std::string DebugLogSocketPath();

}  // namespace vantrel
