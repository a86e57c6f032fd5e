#include "platform/UserStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "diag/UniqueFd.h"
#include "platform/KnownHosts.h"

namespace vantrel {

namespace {

std::string Folder(const std::string& prmPath) {
  const size_t slash = prmPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : prmPath.substr(0, slash);
}

std::string Failed(const std::string& prmPath, const char* prmWhat) {
  return prmPath + " " + prmWhat + " (error " + std::to_string(errno) + ")";
}

// Only what the user alone can change may be trusted: owner and no write bit for others.
const char* Untrusted(const struct stat& prmSt) {
  if (prmSt.st_uid != geteuid()) return "belongs to another user";
  if ((prmSt.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "is writable by others";
  return nullptr;
}

bool ReadAll(int prmFd, size_t prmMaxBytes, std::string& prmOut) {
  char buf[8192];
  for (;;) {
    ssize_t n = read(prmFd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    prmOut.append(buf, static_cast<size_t>(n));
    if (prmOut.size() > prmMaxBytes) return false;
  }
}

}  // namespace

bool ReadUserStore(const std::string& prmPath, size_t prmMaxBytes, std::string& prmContent,
                   std::string& prmError) {
  prmContent.clear();
  struct stat st {};
  if (lstat(prmPath.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    prmError = Failed(prmPath, "cannot be read");
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    prmError = prmPath + " is a link";
    return false;
  }
  const std::string folder = Folder(prmPath);
  struct stat dir {};
  if (lstat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
    prmError = folder + " is not a folder";
    return false;
  }
  if (const char* why = Untrusted(dir)) {
    prmError = folder + " " + why;
    return false;
  }
  TUniqueFd fd(open(prmPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  // Checked on the opened file, so a swap between the look and the open changes nothing.
  if (!fd || fstat(fd.Get(), &st) != 0) {
    prmError = Failed(prmPath, "cannot be read");
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    prmError = prmPath + " is not a regular file";
    return false;
  }
  if (const char* why = Untrusted(st)) {
    prmError = prmPath + " " + why;
    return false;
  }
  if (static_cast<size_t>(st.st_size) > prmMaxBytes ||
      !ReadAll(fd.Get(), prmMaxBytes, prmContent)) {
    prmContent.clear();
    prmError = prmPath + " is too large or unreadable";
    return false;
  }
  return true;
}

bool ReadUserStoreLines(const std::string& prmPath, size_t prmMaxBytes,
                        const std::function<bool(const std::string&)>& prmLine,
                        std::string& prmError) {
  std::string content;
  if (!ReadUserStore(prmPath, prmMaxBytes, content, prmError)) return false;
  std::istringstream in(content);
  int lineNo = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNo;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (!prmLine(line)) {
      prmError = prmPath + " is corrupt at line " + std::to_string(lineNo);
      return false;
    }
  }
  return true;
}

bool WriteUserStore(const std::string& prmPath, std::string_view prmContent,
                    std::string& prmError) {
  const std::string folder = Folder(prmPath);
  // The configuration folder's parent (~/.config) may not exist yet on a new account.
  const std::string parent = Folder(folder);
  if (parent != "/" && parent != ".") mkdir(parent.c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  if (!ReplaceFileAtomically(prmPath, prmContent, 0600)) {
    prmError = Failed(prmPath, "cannot be written");
    return false;
  }
  return true;
}

}  // namespace vantrel
