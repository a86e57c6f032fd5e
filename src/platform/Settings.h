// Per-user folders and the settings file (settings.ini) that holds this machine's switches.
#pragma once

#include <optional>
#include <string>

namespace vantrel {

// $XDG_CONFIG_HOME/vantrel (or ~/.config/vantrel); not created.
std::string ConfigDir();
// $XDG_RUNTIME_DIR, or empty when unset.
std::string RuntimeDir();
// $TMPDIR or /tmp, without a trailing slash.
std::string TempDir();

// Value of NAME=VALUE in ConfigDir()/settings.ini (first match, '#' and ';' lines are comments);
// nothing when the file or the name is missing. The value is taken exactly as written.
std::optional<std::string> ReadSetting(const std::string& prmName);

// The environment variable when set, else the settings.ini value, else nothing.
std::optional<std::string> ReadSettingOrEnv(const std::string& prmName, const char* prmEnv);

}  // namespace vantrel
