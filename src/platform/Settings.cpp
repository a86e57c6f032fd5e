#include "platform/Settings.h"

#include <cstdlib>
#include <fstream>

namespace vantrel {

namespace {
std::string Env(const char* prmName) {
  const char* v = std::getenv(prmName);
  return v ? std::string(v) : std::string();
}
}  // namespace

std::string ConfigDir() {
  std::string base = Env("XDG_CONFIG_HOME");
  if (base.empty()) base = Env("HOME") + "/.config";
  return base + "/vantrel";
}

std::string RuntimeDir() { return Env("XDG_RUNTIME_DIR"); }

std::string TempDir() {
  std::string t = Env("TMPDIR");
  while (t.size() > 1 && t.back() == '/') t.pop_back();
  return t.empty() ? std::string("/tmp") : t;
}

std::optional<std::string> ReadSetting(const std::string& prmName) {
  std::ifstream in(ConfigDir() + "/settings.ini");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (line.compare(0, eq, prmName) == 0 && eq == prmName.size()) return line.substr(eq + 1);
  }
  return std::nullopt;
}

std::optional<std::string> ReadSettingOrEnv(const std::string& prmName, const char* prmEnv) {
  if (const char* v = std::getenv(prmEnv)) return std::string(v);
  return ReadSetting(prmName);
}

}  // namespace vantrel
