// One descriptor held in reserve for a listener: when accept fails because descriptors ran out,
// it is given up for a moment so the waiting connection can be taken and ended at once; its
// client then fails instead of hanging in the backlog until descriptors come back.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>

#include "diag/UniqueFd.h"

namespace vantrel {

class TSpareFd {
 public:
  TSpareFd() { Take(); }

  // Whether the accept error is a shortage this reserve can help with.
  static bool IsShortage(int prmErr) {
    return prmErr == EMFILE || prmErr == ENFILE || prmErr == ENOBUFS || prmErr == ENOMEM;
  }

  // Takes the oldest waiting connection of prmListenFd and ends it; false when even that
  // failed, so the caller backs off instead of spinning. The ended connection's descriptor
  // becomes the next reserve, so no slot is free once its client has been told: another thread
  // cannot take the reserve's place in between.
  bool RefuseWaiting(int prmListenFd) {
    m_Fd.Reset();
    TUniqueFd refused(accept4(prmListenFd, nullptr, nullptr, SOCK_CLOEXEC));
    if (!refused.Valid()) {
      Take();
      return false;
    }
    shutdown(refused.Get(), SHUT_RDWR);
    m_Fd = std::move(refused);
    return true;
  }

 private:
  void Take() { m_Fd.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC)); }

  TUniqueFd m_Fd;
};

}  // namespace vantrel
