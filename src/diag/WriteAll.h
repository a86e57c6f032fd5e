// Writing a whole buffer to a descriptor, however the system splits the writes. Header-only, so
// the companion libraries can use it without the rest of diag.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace vantrel {

// False on the first error other than an interruption; errno tells which.
inline bool WriteAll(int prmFd, std::string_view prmData) {
  size_t done = 0;
  while (done < prmData.size()) {
    const ssize_t n = write(prmFd, prmData.data() + done, prmData.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace vantrel
