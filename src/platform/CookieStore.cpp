#include "platform/CookieStore.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

// Cookie files are small; a larger one is not read rather than read without bound.
constexpr std::streamsize kMaxCookieFile = 4 * 1024 * 1024;

struct TUrlParts {
  bool Secure = false;
  std::string Host;
  std::string Path = "/";
};

bool ParseURL(const std::string& prmURL, TUrlParts& prmParts) {
  size_t scheme = prmURL.find("://");
  if (scheme == std::string::npos) return false;
  prmParts.Secure = SameText(prmURL.substr(0, scheme), "https");
  size_t hostStart = scheme + 3;
  size_t pathStart = prmURL.find('/', hostStart);
  std::string hostPort = prmURL.substr(hostStart, pathStart - hostStart);
  prmParts.Host = LowerCase(hostPort.substr(0, hostPort.find(':')));
  if (pathStart != std::string::npos) prmParts.Path = prmURL.substr(pathStart);
  return !prmParts.Host.empty();
}

std::vector<std::string> SplitTabs(const std::string& prmLine) {
  std::vector<std::string> fields;
  std::stringstream ss(prmLine);
  std::string f;
  while (std::getline(ss, f, '\t')) fields.push_back(f);
  return fields;
}

bool DomainMatches(std::string prmDomain, bool prmSubdomains, const std::string& prmHost) {
  prmDomain = LowerCase(prmDomain);
  if (!prmDomain.empty() && prmDomain[0] == '.') {
    prmDomain.erase(0, 1);
    prmSubdomains = true;
  }
  if (prmHost == prmDomain) return true;
  return prmSubdomains && prmHost.size() > prmDomain.size() &&
         prmHost.compare(prmHost.size() - prmDomain.size(), prmDomain.size(), prmDomain) == 0 &&
         prmHost[prmHost.size() - prmDomain.size() - 1] == '.';
}

}  // namespace

std::string CookiesFromNetscapeText(const std::string& prmText, const std::string& prmURL,
                                    std::time_t prmNow) {
  TUrlParts url;
  if (!ParseURL(prmURL, url)) return std::string();
  std::string result;
  std::stringstream ss(prmText);
  std::string line;
  while (std::getline(ss, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Cookies hidden from scripts are still sent with requests; the file marks them this way.
    const std::string httpOnly = "#HttpOnly_";
    if (line.compare(0, httpOnly.size(), httpOnly) == 0)
      line.erase(0, httpOnly.size());
    else if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() < 7) continue;
    long long expires = 0;
    try {
      expires = std::stoll(f[4]);
    } catch (...) {
      continue;
    }
    if (!DomainMatches(f[0], SameText(f[1], "TRUE"), url.Host)) continue;
    if (url.Path.compare(0, f[2].size(), f[2]) != 0) continue;
    if (SameText(f[3], "TRUE") && !url.Secure) continue;
    if (expires != 0 && expires < static_cast<long long>(prmNow)) continue;
    if (!result.empty()) result += "; ";
    result += f[5] + "=" + f[6];
  }
  return result;
}

std::string GetCookiesForURL(const std::string& prmURL, std::time_t prmNow) {
  std::optional<std::string> file = ReadSetting("CookieFile");
  if (!file || file->empty()) return std::string();
  std::ifstream in(*file, std::ios::binary);
  if (!in) {
    WriteDebugLog("GetCookiesForURL - cannot read " + *file);
    return std::string();
  }
  std::string text(static_cast<size_t>(kMaxCookieFile) + 1, '\0');
  in.read(text.data(), kMaxCookieFile + 1);
  if (in.gcount() > kMaxCookieFile) {
    WriteDebugLog("GetCookiesForURL - cookie file too large: " + *file);
    return std::string();
  }
  text.resize(static_cast<size_t>(in.gcount()));
  return CookiesFromNetscapeText(text, prmURL, prmNow);
}

}  // namespace vantrel
