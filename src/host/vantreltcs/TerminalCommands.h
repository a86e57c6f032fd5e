// The commands a person types on the console while the host runs: they call the control's
// members as a page would, so the terminal can do what the embedded form's buttons and settings
// tab do. Window thread only (the dispatch table's members run there).
#pragma once

#include <string>

#include "control/Dispatch.h"

namespace vantrel::host {

enum class TCommandResult { Continue, Quit };

// Runs one typed line; prmOut gets the answer for the terminal (ending in a newline, empty for
// an empty line). A mistake is answered, never raised.
TCommandResult RunTerminalCommand(const std::string& prmLine, const TDispatchTable& prmTable,
                                  std::string& prmOut);

// One line naming every command.
const char* TerminalCommandsHelp();

}  // namespace vantrel::host
