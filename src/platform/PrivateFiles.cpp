#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/UniqueFd.h"
#include "platform/Settings.h"

namespace vantrel {

std::string PrivateTempFolder() {
  return TempDir() + "/Vantrel";
}

bool EnsurePrivateFolder(const std::string& prmFolder) {
  if (mkdir(prmFolder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(prmFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    WriteDebugLog("create dir failed,dir:" + prmFolder);
    return false;
  }
  return (st.st_mode & 077) == 0 || chmod(prmFolder.c_str(), 0700) == 0;
}

std::string PrivateFilePath(const std::string& prmFolder, const std::string& prmName,
                            const std::string& prmExtension) {
  std::string name = prmName;
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  return prmFolder + "/" + name + prmExtension;
}

bool WritePrivateFile(const std::string& prmPath, const std::string& prmData) {
  TUniqueFd fd(open(prmPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return false;
  bool ok = fchmod(fd.Get(), 0600) == 0;
  size_t done = 0;
  while (ok && done < prmData.size()) {
    ssize_t n = write(fd.Get(), prmData.data() + done, prmData.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  int err = errno;
  fd.Reset();
  errno = err;
  return ok;
}

}  // namespace vantrel
