// Reading a small file whole, safely: only a regular file (a pipe or device could block or never
// end) and only up to a size limit, so a hostile path costs nothing. Header-only, so the
// companion libraries can use it without the rest of diag.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "diag/UniqueFd.h"

namespace vantrel {

// False when the file cannot be opened, is not a regular file or is larger than prmMaxBytes.
// prmNoFollow refuses a symbolic link as the last path component.
inline bool ReadRegularFile(const std::string& prmPath, size_t prmMaxBytes, std::string& prmText,
                            bool prmNoFollow = false) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (prmNoFollow ? O_NOFOLLOW : 0);
  TUniqueFd fd(open(prmPath.c_str(), flags));
  struct stat st {};
  if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > prmMaxBytes)
    return false;
  prmText.assign(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < prmText.size()) {
    ssize_t n = read(fd.Get(), prmText.data() + done, prmText.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  prmText.resize(done);
  return true;
}

}  // namespace vantrel
