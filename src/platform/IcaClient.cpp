#include "platform/IcaClient.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <sstream>

#include "diag/DebugLog.h"
#include "diag/FileRead.h"
#include "platform/ProcessSpawn.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

// Association lists and desktop entries are small; anything larger is not one.
constexpr size_t kMaxListBytes = 1024 * 1024;
constexpr size_t kMaxVersionBytes = 4096;
constexpr size_t kMaxDirEntries = 4096;

std::string Env(const char* prmName) {
  const char* v = std::getenv(prmName);
  return v ? std::string(v) : std::string();
}

// A ":"-separated list; prmDefault when the variable is unset or empty.
std::vector<std::string> DirList(const char* prmName, const std::string& prmDefault) {
  std::string text = Env(prmName);
  if (text.empty()) text = prmDefault;
  std::vector<std::string> dirs;
  std::stringstream in(text);
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty()) dirs.push_back(dir);
  return dirs;
}

std::string Trim(const std::string& prmText) {
  const char* blanks = " \t\r\n";
  size_t begin = prmText.find_first_not_of(blanks);
  if (begin == std::string::npos) return std::string();
  return prmText.substr(begin, prmText.find_last_not_of(blanks) - begin + 1);
}

// The value of prmKey in group prmGroup of a desktop-style key file.
std::optional<std::string> GroupValue(const std::string& prmText, const std::string& prmGroup,
                                      const std::string& prmKey) {
  std::stringstream in(prmText);
  bool inGroup = false;
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[" + prmGroup + "]";
      continue;
    }
    size_t eq = line.find('=');
    if (inGroup && eq != std::string::npos && Trim(line.substr(0, eq)) == prmKey)
      return Trim(line.substr(eq + 1));
  }
  return std::nullopt;
}

std::string ReadListFile(const std::string& prmPath) {
  std::string text;
  return ReadRegularFile(prmPath, kMaxListBytes, text) ? text : std::string();
}

// The desktop entry file of an id in the data folders; empty when it is not installed. Ids name
// files directly: only entries without "/" are looked up, so an id cannot leave the folder.
std::string DesktopEntryPath(const TIcaClientSources& prmSources, const std::string& prmId) {
  if (prmId.empty() || prmId.find('/') != std::string::npos) return std::string();
  for (const std::string& dir : prmSources.DataDirs) {
    std::string path = dir + "/applications/" + prmId;
    std::string text;
    if (ReadRegularFile(path, kMaxListBytes, text)) return path;
  }
  return std::string();
}

// The first installed id of a ";"-separated list in one association file.
std::string FirstInstalled(const TIcaClientSources& prmSources, const std::string& prmFile,
                           const std::string& prmGroup, const std::string& prmMimeType) {
  std::optional<std::string> ids = GroupValue(ReadListFile(prmFile), prmGroup, prmMimeType);
  if (!ids) return std::string();
  std::stringstream in(*ids);
  for (std::string id; std::getline(in, id, ';');) {
    id = Trim(id);
    if (!DesktopEntryPath(prmSources, id).empty()) return id;
  }
  return std::string();
}

// The program a candidate text names, when it is an executable file.
std::string Executable(const std::string& prmProgram) {
  return prmProgram.empty() ? std::string() : FindProgram(prmProgram);
}

std::string FromConfigured(const std::string& prmProgram) {
  WriteDebugLog("Citrix DetectfullClient - configured client " + prmProgram);
  std::string program = Executable(prmProgram);
  if (program.empty()) WriteDebugLog("Citrix DetectfullClient - no program at " + prmProgram);
  return program;
}

std::string FromMimeHandler(const TIcaClientSources& prmSources) {
  std::string id = DefaultMimeHandler(prmSources, kIcaMimeType);
  if (id.empty()) {
    WriteDebugLog("Citrix DetectfullClient - Failed to open .ica key");
    return std::string();
  }
  WriteDebugLog("Citrix DetectfullClient - .reg value " + id);
  std::string path = DesktopEntryPath(prmSources, id);
  WriteDebugLog("Citrix DetectfullClient - opening " + path);
  const std::string entry = ReadListFile(path);
  std::optional<std::string> command = GroupValue(entry, "Desktop Entry", "Exec");
  if (!command) {
    WriteDebugLog("Citrix DetectfullClient - Failed to open " + path);
    return std::string();
  }
  WriteDebugLog("Citrix DetectfullClient - command is " + *command);
  std::string program = Executable(DesktopEntryProgram(entry));
  if (program.empty()) WriteDebugLog("Citrix DetectfullClient - no program in " + *command);
  return program;
}

}  // namespace

TIcaClientSources SystemIcaClientSources() {
  TIcaClientSources sources;
  sources.Configured = ReadSettingOrEnv("IcaClient", "VANTREL_ICA_CLIENT");
  const std::string home = Env("HOME");
  sources.ConfigDirs = DirList("XDG_CONFIG_HOME", home + "/.config");
  for (std::string& dir : DirList("XDG_CONFIG_DIRS", "/etc/xdg"))
    sources.ConfigDirs.push_back(std::move(dir));
  sources.DataDirs = DirList("XDG_DATA_HOME", home + "/.local/share");
  for (std::string& dir : DirList("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
    sources.DataDirs.push_back(std::move(dir));
  for (std::string& name : DirList("XDG_CURRENT_DESKTOP", "")) {
    // Names are short words; anything that could leave the folder is no desktop name.
    if (name.find('/') != std::string::npos) continue;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    sources.DesktopNames.push_back(std::move(name));
  }
  return sources;
}

std::string DefaultMimeHandler(const TIcaClientSources& prmSources,
                               const std::string& prmMimeType) {
  std::vector<std::string> folders = prmSources.ConfigDirs;
  for (const std::string& dir : prmSources.DataDirs) folders.push_back(dir + "/applications");
  std::vector<std::string> lists;
  for (const std::string& folder : folders) {
    for (const std::string& desktop : prmSources.DesktopNames)
      lists.push_back(folder + "/" + desktop + "-mimeapps.list");
    lists.push_back(folder + "/mimeapps.list");
  }
  for (const std::string& list : lists) {
    std::string id = FirstInstalled(prmSources, list, "Default Applications", prmMimeType);
    if (!id.empty()) return id;
  }
  const std::pair<const char*, const char*> legacy[] = {{"defaults.list", "Default Applications"},
                                                        {"mimeinfo.cache", "MIME Cache"}};
  for (const auto& [file, group] : legacy) {
    for (const std::string& dir : prmSources.DataDirs) {
      std::string id =
          FirstInstalled(prmSources, dir + "/applications/" + file, group, prmMimeType);
      if (!id.empty()) return id;
    }
  }
  return std::string();
}

std::string DesktopEntryProgram(const std::string& prmEntryText) {
  std::string exec = GroupValue(prmEntryText, "Desktop Entry", "Exec").value_or("");
  std::string program;
  if (!exec.empty() && exec[0] == '"') {
    // A quoted argument: "\" escapes the next character; the closing quote ends it.
    for (size_t i = 1; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
      program += exec[i];
    }
    return program;
  }
  return exec.substr(0, exec.find_first_of(" \t"));
}

std::string DetectfullClient(const TIcaClientSources& prmSources) {
  WriteDebugLog("Citrix DetectfullClient - Begin");
  try {
    std::string program;
    if (prmSources.Configured && !prmSources.Configured->empty())
      program = FromConfigured(*prmSources.Configured);
    if (program.empty()) program = FromMimeHandler(prmSources);
    if (program.empty()) program = Executable(prmSources.DefaultProgram);
    return program;
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("Citrix DetectFullClient Exception - ") + e.what());
    return std::string();
  }
}

std::string IcaClientLocation(const std::string& prmProgram) {
  size_t slash = prmProgram.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : prmProgram.substr(0, slash);
}

std::string IcaClientVersionText(const std::string& prmLocation) {
  if (prmLocation.empty()) return std::string();
  const std::string folder = prmLocation + "/pkginf";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::string();
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.rfind("Ver.core.", 0) == 0 && names.size() < kMaxDirEntries) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string text;
    if (!ReadRegularFile(folder + "/" + name, kMaxVersionBytes, text)) continue;
    return Trim(text.substr(0, text.find('\n')));
  }
  return std::string();
}

}  // namespace vantrel
