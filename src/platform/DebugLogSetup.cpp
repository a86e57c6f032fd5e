#include "platform/DebugLogSetup.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "diag/DebugLog.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

// On exactly for "1", from either place: the settings file is the machine's switch, the
// environment lets one run of a program turn it on.
bool DebugOutputSwitch() {
  const char* env = std::getenv("VANTREL_DBGVIEW");
  if (env != nullptr && std::strcmp(env, "1") == 0) return true;
  auto sw = ReadSetting("DBGView");
  return sw.has_value() && *sw == "1";
}

// Every program that loads the library logs as configured without calling anything first.
struct TLogInit {
  TLogInit() { InitDebugLog(); }
} g_LogInit;

}  // namespace

std::string DebugLogSocketPath() {
  std::string rt = RuntimeDir();
  if (!rt.empty()) return rt + "/VantrelLogger/Msgs";
  return "/tmp/VantrelLogger-" + std::to_string(getuid()) + "/Msgs";
}

void InitDebugLog() {
  ConfigureDebugLog(DebugOutputSwitch(), DebugLogSocketPath());
}

}  // namespace vantrel
