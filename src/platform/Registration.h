// Self-registration of a downloaded ActiveX library: load it and call its DllRegisterServer entry.
#pragma once

#include <string>

#include "platform/Dialogs.h"

namespace vantrel {

// Loads prmPath, calls its "DllRegisterServer" entry (its result is not examined) and unloads it.
// A load failure or a missing entry is logged and shown in an information box through
// prmDialogs; the result is then false.
bool RegisterActiveXServer(const std::string& prmPath, IDialogs& prmDialogs);

}  // namespace vantrel
