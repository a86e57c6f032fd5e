// The locally installed ICA client: which program opens ICA settings files, and the version of
// the client installed beside it. Detection only reads files (the environment, settings.ini, the
// desktop's MIME associations and desktop entries, the client's own version file); nothing is run.
// Any thread; no state of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

constexpr const char* kIcaMimeType = "application/x-ica";
constexpr const char* kIcaDefaultProgram = "/opt/Citrix/ICAClient/wfica";

// Where the client is looked for, in this order: the configured program, the desktop's default
// handler for kIcaMimeType, the default program. A candidate counts when it names an executable
// file; one that does not is logged and the next is tried.
struct TIcaClientSources {
  // VANTREL_ICA_CLIENT, else IcaClient= from settings.ini.
  std::optional<std::string> Configured{};
  // Folders holding mimeapps.list, most important first ($XDG_CONFIG_HOME, $XDG_CONFIG_DIRS).
  std::vector<std::string> ConfigDirs{};
  // Folders whose applications/ sub-folder holds desktop entries and association lists, most
  // important first ($XDG_DATA_HOME, $XDG_DATA_DIRS).
  std::vector<std::string> DataDirs{};
  // The desktop's names, lower-case ($XDG_CURRENT_DESKTOP): their "<name>-mimeapps.list" come
  // before mimeapps.list in each folder.
  std::vector<std::string> DesktopNames{};
  std::string DefaultProgram = kIcaDefaultProgram;
};

// The sources of this process's environment and settings, with the XDG defaults for unset
// variables.
TIcaClientSources SystemIcaClientSources();

// The desktop entry id (a "name.desktop") of the default handler for prmMimeType: the first
// installed entry named in a "[Default Applications]" group of the desktop's own mimeapps lists
// and mimeapps.list (configuration folders, then applications/ of the data folders), then in
// applications/defaults.list, then in applications/mimeinfo.cache. Empty when none is installed.
std::string DefaultMimeHandler(const TIcaClientSources& prmSources, const std::string& prmMimeType);

// The program of a desktop entry's Exec= line: its first argument, quotes and escapes removed.
// Empty when the text has no Exec= line in its "[Desktop Entry]" group.
std::string DesktopEntryProgram(const std::string& prmEntryText);

// The full path of the ICA client program; empty when no client is installed. Logs each step.
std::string DetectfullClient(const TIcaClientSources& prmSources);

// The client location: the folder of the client program (empty for an empty program).
std::string IcaClientLocation(const std::string& prmProgram);

// The installed client's version text ("24.2.0.65"): the first line of the first file, by name,
// matching pkginf/Ver.core.* in the client location. Empty when there is none.
std::string IcaClientVersionText(const std::string& prmLocation);

}  // namespace vantrel
