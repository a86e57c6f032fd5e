#include "host/vantreltcs/PortalOrigins.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "diag/DebugLog.h"
#include "platform/Settings.h"
#include "platform/UserStore.h"

namespace vantrel::host {

namespace {

// A portals file is a line per portal the user allowed; anything much larger is not one.
constexpr size_t kMaxStoreSize = 64 * 1024;
constexpr size_t kMaxOriginLength = 512;
constexpr char kHttps[] = "https://";

std::string Lower(std::string prmText) {
  for (char& c : prmText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return prmText;
}

bool ValidScheme(const std::string& prmScheme) {
  if (prmScheme.empty() || !std::isalpha(static_cast<unsigned char>(prmScheme[0]))) return false;
  return std::all_of(prmScheme.begin(), prmScheme.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

// A name, an IPv4 address, or an IPv6 literal in brackets.
bool ValidHost(const std::string& prmHost) {
  if (prmHost.empty()) return false;
  if (prmHost.front() == '[')
    return prmHost.size() > 2 && prmHost.back() == ']' &&
           std::all_of(prmHost.begin() + 1, prmHost.end() - 1, [](char c) {
             return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
  return std::all_of(prmHost.begin(), prmHost.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
  });
}

bool ValidPort(const std::string& prmPort) {
  if (prmPort.empty() || prmPort.size() > 5 ||
      !std::all_of(prmPort.begin(), prmPort.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  const long port = std::strtol(prmPort.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535;
}

std::vector<std::string> Words(const std::string& prmText) {
  std::istringstream in(prmText);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool Contains(const std::vector<std::string>& prmList, const std::string& prmOrigin) {
  return std::find(prmList.begin(), prmList.end(), prmOrigin) != prmList.end();
}

}  // namespace

std::string NormalizeOrigin(const std::string& prmText) {
  if (prmText.size() > kMaxOriginLength) return {};
  const size_t sep = prmText.find("://");
  if (sep == std::string::npos) return {};
  const std::string scheme = Lower(prmText.substr(0, sep));
  const std::string rest = prmText.substr(sep + 3);
  // The port follows the last ':' outside an IPv6 literal's brackets.
  const size_t close = rest.rfind(']');
  const size_t colon = rest.find(':', close == std::string::npos ? 0 : close);
  const std::string host = Lower(rest.substr(0, colon));
  if (!ValidScheme(scheme) || !ValidHost(host)) return {};
  if (colon == std::string::npos) return scheme + "://" + host;
  const std::string port = rest.substr(colon + 1);
  if (!ValidPort(port)) return {};
  return scheme + "://" + host + ":" + port;
}

std::vector<std::string> OriginList(const std::string& prmText, const std::string& prmSource) {
  std::vector<std::string> out;
  for (const std::string& w : Words(prmText)) {
    std::string origin = NormalizeOrigin(w);
    if (origin.empty())
      WriteDebugLog("AllowedPortals - " + prmSource + ": not an origin (scheme://host[:port], " +
                    "no path or trailing slash), ignored: " + w);
    else
      out.push_back(std::move(origin));
  }
  return out;
}

std::vector<std::string> AdminPortals() {
  std::vector<std::string> out;
  if (const char* env = std::getenv("VANTREL_ALLOWED_PORTALS"))
    out = OriginList(env, "VANTREL_ALLOWED_PORTALS");
  for (std::string& o : OriginList(ReadSetting("AllowedPortals").value_or(""), "settings.ini"))
    out.push_back(std::move(o));
  return out;
}

TPortalStore::TPortalStore(std::string prmPath)
    : m_Path(prmPath.empty() ? ConfigDir() + "/portals" : std::move(prmPath)) {}

bool TPortalStore::Load(std::vector<std::string>& prmOut, std::string& prmError) const {
  prmOut.clear();
  // Written by this program in exactly this form; anything else was not.
  auto line = [&](const std::string& prmLine) {
    std::vector<std::string> words = Words(prmLine);
    if (words.size() != 1 || NormalizeOrigin(words[0]) != words[0]) return false;
    prmOut.push_back(words[0]);
    return true;
  };
  if (ReadUserStoreLines(m_Path, kMaxStoreSize, line, prmError)) return true;
  prmOut.clear();
  return false;
}

bool TPortalStore::Remember(const std::string& prmOrigin, std::string& prmError) const {
  const std::string origin = NormalizeOrigin(prmOrigin);
  if (origin.rfind(kHttps, 0) != 0) {
    prmError = "only https portals are remembered";
    return false;
  }
  std::vector<std::string> known;
  if (!Load(known, prmError)) return false;
  if (Contains(known, origin)) return true;
  std::string content = "# portals allowed to start Vantrel sessions\n";
  for (const std::string& o : known) content += o + "\n";
  return WriteUserStore(m_Path, content + origin + "\n", prmError);
}

bool IsPortalAllowed(const std::string& prmOrigin, const TPortalStore& prmStore,
                     const TAskPortal& prmAsk) {
  const std::string origin = NormalizeOrigin(prmOrigin);
  if (origin.empty()) {
    WriteDebugLog("IsPortalAllowed - not an origin, refused");
    return false;
  }
  if (Contains(AdminPortals(), origin)) {
    WriteDebugLog("IsPortalAllowed - " + origin + " is listed by the administrator");
    return true;
  }
  std::vector<std::string> remembered;
  std::string error;
  if (!prmStore.Load(remembered, error))
    WriteDebugLog("IsPortalAllowed - the remembered portals are not used: " + error);
  if (Contains(remembered, origin)) {
    WriteDebugLog("IsPortalAllowed - " + origin + " was allowed by the user before");
    return true;
  }
  if (origin.rfind(kHttps, 0) != 0 || !prmAsk) {
    WriteDebugLog(
        "IsPortalAllowed - " + origin + " is not allowed" +
        (origin.rfind(kHttps, 0) != 0 ? " (not https: never asked)" : " (nobody to ask)"));
    return false;
  }
  if (!prmAsk(origin)) {
    WriteDebugLog("IsPortalAllowed - the user refused " + origin);
    return false;
  }
  if (!prmStore.Remember(origin, error))
    WriteDebugLog("IsPortalAllowed - " + origin + " allowed this time, not remembered: " + error);
  else
    WriteDebugLog("IsPortalAllowed - the user allowed " + origin + "; remembered");
  return true;
}

}  // namespace vantrel::host
