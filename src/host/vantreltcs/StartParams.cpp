#include "host/vantreltcs/StartParams.h"

#include <string_view>

#include "diag/Exceptions.h"

namespace vantrel::host {

namespace {

// The names the control's Load reads; anything else in a hand-over is a mistake or an attack.
const std::set<std::string>& KnownNames() {
  static const std::set<std::string> names = {
      "platform",  "sp_name",    "sp_port",     "SPCookies",       "session_id",
      "module_id", "farmslist",  "xdfarmslist", "hidedesks",       "config_str",
      "dest_host", "auto_start", "auto_close",  "hide_on_connect", "custom_portal",
      "start_app", "work_dir",   "perf_preset", "hide_ui"};
  return names;
}

// How a refusal shows a name that came from outside, with its leading blank: a few printable
// characters in quotes, nothing at all when it holds a blank ("SPCookies ZQsession=...", a blank
// where "=" belongs, makes the cookie itself the name).
constexpr size_t kMaxShownName = 32;
std::string ShownName(std::string_view prmName) {
  if (prmName.find_first_of(" \t") != std::string_view::npos)
    return " (not shown: it contains a blank)";
  std::string out = " \"";
  for (char c : prmName.substr(0, kMaxShownName)) out += c > ' ' && c < 0x7f ? c : '?';
  return out + (prmName.size() > kMaxShownName ? "...\"" : "\"");
}

}  // namespace

void TStartParamChecker::Add(const std::string& prmName, const std::string& prmValue,
                             const std::string& prmPlace) {
  if (prmName.empty()) throw EBaseException(prmPlace + ": expected NAME=VALUE");
  if (KnownNames().count(prmName) == 0)
    throw EBaseException(prmPlace + ": unknown parameter name" + ShownName(prmName));
  if (!m_Seen.insert(prmName).second)
    throw EBaseException(prmPlace + ": parameter " + prmName + " is given more than once");
  for (char c : prmValue)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw EBaseException(prmPlace + ": the value of " + prmName + " holds a control character");
  m_Bag.Set(prmName, prmValue);
}

}  // namespace vantrel::host
