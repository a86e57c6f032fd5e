// Debug log channel: one record per line to the log viewer's socket, or to standard error when
// the DBGView switch is on. Safe from any thread; never raises. Until it is configured, lines are
// dropped; the platform layer configures it when the library is loaded (platform/DebugLogSetup.h).
#pragma once

#include <string>

namespace vantrel {

void WriteDebugLog(const std::string& prmText);

// With prmDbgView, lines go to standard error; otherwise to the viewer's datagram socket at
// prmViewerPath, opened now and only now: a viewer that starts later is not seen until the next
// call. A write that fails reopens the same path once.
void ConfigureDebugLog(bool prmDbgView, const std::string& prmViewerPath);

}  // namespace vantrel
