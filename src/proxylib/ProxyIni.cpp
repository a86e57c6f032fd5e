#include "proxylib/ProxyIni.h"
#include "diag/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"
#include "diag/WriteAll.h"
#include "proxylog/Loglib.h"
#include "proxylog/UtilityLib.h"

namespace vantrel::proxylib {

namespace {

// The file holds a few short texts; anything bigger is not ours.
constexpr size_t kMaxFile = 256 * 1024;

}  // namespace

TIniSections ParseIni(std::string_view prmText) {
  TIniSections out;
  std::map<std::string, std::string>* section = nullptr;
  size_t pos = 0;
  while (pos < prmText.size()) {
    size_t end = prmText.find('\n', pos);
    if (end == std::string_view::npos) end = prmText.size();
    std::string_view line = prmText.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section =
          close == std::string_view::npos ? nullptr : &out[std::string(line.substr(1, close - 1))];
      continue;
    }
    size_t eq = line.find('=');
    if (!section || eq == std::string_view::npos || eq == 0) continue;
    std::string_view value = line.substr(eq + 1);
    while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.remove_prefix(1);
    if (value.empty()) continue;
    (*section)[std::string(line.substr(0, eq))] = std::string(value);
  }
  return out;
}

std::string FormatIni(const TIniSections& prmSections) {
  std::string out;
  for (const auto& [name, entries] : prmSections) {
    out += "[" + name + "]\r\n";
    for (const auto& [key, value] : entries) out += key + "=" + value + "\r\n";
  }
  return out;
}

std::string ProxyIniDir(const std::string& prmTempDir, int prmOSCode) {
  std::string dir = prmTempDir;
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::string trimmed = dir.substr(0, dir.size() - 1);
  std::string last = trimmed.substr(trimmed.rfind('/') + 1);
  if (prmOSCode > 3 && FindText(last, "low") == std::string::npos) dir += "Low/";
  return dir + "VPN-" + std::to_string(geteuid());
}

std::string ProxyIniPath() {
  return ProxyIniDir(proxylog::GetActiveUserTempDir(), proxylog::GetOSCode()) + "/Proxy.ini";
}

bool ProxyIniExists() {
  std::string path = ProxyIniPath();
  struct stat dir {
  }, file{};
  if (lstat(path.c_str(), &file) != 0) return false;
  // Read only as it is written: a folder planted in a shared temporary folder, or a file put
  // into a folder others may write, would hand us their "saved" credentials.
  if (lstat(path.substr(0, path.rfind('/')).c_str(), &dir) != 0 ||
      proxylog::CheckOwnership(dir, S_IFDIR) != proxylog::TOwnership::Private ||
      proxylog::CheckOwnership(file, S_IFREG) != proxylog::TOwnership::Private) {
    PROXY_LOG(proxylog::kLevelWarning,
              "ProxyIni: %s or its folder is not this user's private file; ignored", path.c_str());
    return false;
  }
  return true;
}

bool CreateProxyIniFile() {
  std::string path = ProxyIniPath();
  if (!proxylog::MakePrivateDir(path.substr(0, path.rfind('/')))) return false;
  TUniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  return fd.Valid() && proxylog::KeepPrivate(fd.Get(), S_IFREG, 0600);
}

CProxyIni::CProxyIni(std::string prmPath) : m_Path(std::move(prmPath)) {
  std::string text;
  if (ReadRegularFile(m_Path, kMaxFile, text, true)) m_Sections = ParseIni(text);
}

long CProxyIni::ReadInt(const std::string& prmSection, const std::string& prmKey, long prmDefault) {
  std::lock_guard<std::mutex> lock(m_Lock);
  auto s = m_Sections.find(prmSection);
  if (s == m_Sections.end()) return prmDefault;
  auto e = s->second.find(prmKey);
  if (e == s->second.end()) return prmDefault;
  return std::strtol(e->second.c_str(), nullptr, 10);
}

std::string CProxyIni::ReadText(const std::string& prmSection, const std::string& prmKey,
                                const std::string& prmDefault, size_t prmMaxChars) {
  std::lock_guard<std::mutex> lock(m_Lock);
  auto s = m_Sections.find(prmSection);
  if (s == m_Sections.end()) return prmDefault;
  auto e = s->second.find(prmKey);
  if (e == s->second.end()) return prmDefault;
  return e->second.substr(0, prmMaxChars);
}

void CProxyIni::WriteInt(const std::string& prmSection, const std::string& prmKey, long prmValue) {
  WriteText(prmSection, prmKey, std::to_string(prmValue));
}

void CProxyIni::WriteText(const std::string& prmSection, const std::string& prmKey,
                          const std::string& prmValue) {
  std::lock_guard<std::mutex> lock(m_Lock);
  // A line end inside a value would start a new entry when the file is read again.
  std::string value = prmValue.substr(0, prmValue.find_first_of("\r\n"));
  m_Sections[prmSection][prmKey] = value;
}

bool CProxyIni::Save() {
  std::lock_guard<std::mutex> lock(m_Lock);
  std::string tmp = m_Path + ".new";
  unlink(tmp.c_str());
  TUniqueFd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid()) return false;
  if (!WriteAll(fd.Get(), FormatIni(m_Sections)) || fsync(fd.Get()) != 0 ||
      rename(tmp.c_str(), m_Path.c_str()) != 0) {
    int saved = errno;
    unlink(tmp.c_str());
    errno = saved;
    return false;
  }
  return true;
}

}  // namespace vantrel::proxylib
