#include "proxylog/UtilityLib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "diag/UniqueFd.h"
#include "platform/Settings.h"

namespace vantrel::proxylog {

int GetOSCode() {
  return -1;
}

std::string GetActiveUserTempDir() {
  return TempDir() + "/";
}

TOwnership CheckOwnership(const struct stat& prmSt, mode_t prmType) {
  if ((prmSt.st_mode & S_IFMT) != prmType || prmSt.st_uid != geteuid()) return TOwnership::Foreign;
  return (prmSt.st_mode & 077) == 0 ? TOwnership::Private : TOwnership::Loose;
}

bool KeepPrivate(int prmFd, mode_t prmType, mode_t prmMode) {
  struct stat st {};
  if (fstat(prmFd, &st) != 0) return false;
  TOwnership own = CheckOwnership(st, prmType);
  return own == TOwnership::Private || (own == TOwnership::Loose && fchmod(prmFd, prmMode) == 0);
}

bool MakePrivateDir(const std::string& prmDir) {
  std::string dir = prmDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty()) return false;
  for (size_t p = dir.find('/', 1); p != std::string::npos; p = dir.find('/', p + 1))
    if (mkdir(dir.substr(0, p).c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  TUniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return fd.Valid() && KeepPrivate(fd.Get(), S_IFDIR, 0700);
}

}  // namespace vantrel::proxylog
