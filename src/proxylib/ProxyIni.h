// Proxy.ini, the proxy library's per-user settings file: where it lives and the store object
// that reads and rewrites it. One store object per file access; it loads the file when created,
// keeps sections and entries in sorted maps and writes the whole file back on Save. Each object
// serialises its own operations; separate objects are not coordinated (the last save wins).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace vantrel::proxylib {

inline constexpr char kOutsideProxyConfig[] = "OUTSIDE_PROXY_CONFIG";

using TIniSections = std::map<std::string, std::map<std::string, std::string>>;

// Comment lines start with ";"; the key runs to the first "=", blanks after it are skipped; an
// empty key or value and entries before the first section are dropped. Never fails: a damaged
// text gives whatever complete entries it holds.
TIniSections ParseIni(std::string_view prmText);
// Sections and keys in ascending ordinal order, CR LF line ends.
std::string FormatIni(const TIniSections& prmSections);

// prmTempDir (with its trailing "/") + "Low/" when prmOSCode > 3 and the folder's last
// component does not contain "low" in any case, then "VPN-" + the user id, so users sharing
// one temporary folder never share the file.
std::string ProxyIniDir(const std::string& prmTempDir, int prmOSCode);
// ProxyIniDir of this process + "/Proxy.ini".
std::string ProxyIniPath();
// Creates the folder (0700, owned by this user) and the file (0600) when missing; false when
// either cannot be made private to this user.
bool CreateProxyIniFile();
// True when the file exists and may be read: it and its folder are this user's, real (no link)
// and closed to everyone else. Anything else is logged and counts as no file.
bool ProxyIniExists();

class CProxyIni {
 public:
  // Loads prmPath; a missing, unreadable, oversized or damaged file loads as empty.
  explicit CProxyIni(std::string prmPath = ProxyIniPath());

  // strtol's reading: digits after optional blanks and sign, anything else 0; absent = default.
  long ReadInt(const std::string& prmSection, const std::string& prmKey, long prmDefault);
  // At most prmMaxChars bytes of the value, or the default when absent.
  std::string ReadText(const std::string& prmSection, const std::string& prmKey,
                       const std::string& prmDefault, size_t prmMaxChars);
  void WriteInt(const std::string& prmSection, const std::string& prmKey, long prmValue);
  void WriteText(const std::string& prmSection, const std::string& prmKey,
                 const std::string& prmValue);
  // Replaces the file whole (a new file renamed over the old, mode 0600); a failed save leaves
  // the old file. errno tells why on failure.
  bool Save();

 private:
  std::mutex m_Lock;
  std::string m_Path;
  TIniSections m_Sections;
};

}  // namespace vantrel::proxylib
