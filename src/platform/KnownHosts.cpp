#include "platform/KnownHosts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "diag/UniqueFd.h"
#include "diag/WriteAll.h"

namespace vantrel {

std::string FreeRdpKnownHostsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') return std::string(config) + "/freerdp/known_hosts2";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config/freerdp/known_hosts2";
  return std::string();
}

std::string WithoutKnownHost(std::string_view prmContent, std::string_view prmHost) {
  std::string out;
  out.reserve(prmContent.size());
  size_t pos = 0;
  while (pos < prmContent.size()) {
    size_t eol = prmContent.find('\n', pos);
    size_t next = eol == std::string_view::npos ? prmContent.size() : eol + 1;
    std::string_view line = prmContent.substr(pos, next - pos);
    size_t end = line.find_first_of(" \t\r\n");
    std::string_view first = line.substr(0, end);
    if (prmHost.empty() || first != prmHost) out.append(line);
    pos = next;
  }
  return out;
}

namespace {

bool ReadAll(int prmFd, std::string& prmOut) {
  char buf[8192];
  for (;;) {
    ssize_t n = read(prmFd, buf, sizeof(buf));
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    prmOut.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

bool RemoveKnownHost(const std::string& prmPath, const std::string& prmHost) {
  if (prmPath.empty()) return false;
  std::string content;
  struct stat st {};
  {
    TUniqueFd fd(open(prmPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errno == ENOENT;
    if (fstat(fd.Get(), &st) != 0 || !ReadAll(fd.Get(), content)) return false;
  }
  std::string kept = WithoutKnownHost(content, prmHost);
  if (kept.size() == content.size()) return true;
  return ReplaceFileAtomically(prmPath, kept, st.st_mode & 07777);
}

bool ReplaceFileAtomically(const std::string& prmPath, std::string_view prmContent,
                           unsigned prmMode) {
  // A crash halfway must leave either the old or the new file, never a cut one.
  std::string temp = prmPath + ".XXXXXX";
  TUniqueFd out(mkstemp(temp.data()));
  if (!out) return false;
  bool ok =
      fchmod(out.Get(), prmMode) == 0 && WriteAll(out.Get(), prmContent) && fsync(out.Get()) == 0;
  // A failing close may mean the data never reached the disk: its result counts.
  ok = close(out.Release()) == 0 && ok;
  if (ok && rename(temp.c_str(), prmPath.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

}  // namespace vantrel
