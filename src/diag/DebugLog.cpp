#include "diag/DebugLog.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"

namespace vantrel {

namespace {

// Process-wide log state. The descriptor is guarded so that two threads reopening it after a
// failed write cannot leak or close each other's socket; the write itself is one datagram, so
// records never mix.
struct TLogState {
  std::mutex Lock;
  TUniqueFd Fd;
  bool DbgView = false;
  std::string ViewerPath;
  // Set when the viewer let a record wait out its grace period; cleared by the next write that
  // goes through. While set, records are tried once and dropped when the viewer is still full.
  bool Stalled = false;
};

TLogState& State() {
  static TLogState* s = new TLogState();  // never destroyed: threads may log during exit
  return *s;
}

TUniqueFd OpenViewerSocket(const std::string& prmPath) {
  sockaddr_un addr{};
  if (prmPath.size() >= sizeof addr.sun_path) return TUniqueFd();
  TUniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, prmPath.c_str(), prmPath.size() + 1);
  // Open-existing: only when the viewer has bound the socket.
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return TUniqueFd();
  return fd;
}

enum class TWrite { Ok, Busy, Failed };

// A viewer that falls behind gets a short grace period per record; one that stops draining loses
// lines instead of stalling every logging thread (see TLogState::Stalled).
constexpr int kBusyWaitMs = 500;

TWrite WriteRecord(int prmFd, const std::vector<char>& prmRec, bool prmMayWait) {
  if (prmFd < 0) return TWrite::Failed;
  for (;;) {
    ssize_t n = send(prmFd, prmRec.data(), prmRec.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(prmRec.size())) return TWrite::Ok;
    if (n < 0 && errno == EINTR) continue;
    if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return TWrite::Failed;
    if (!prmMayWait) return TWrite::Busy;
    prmMayWait = false;
    pollfd p{prmFd, POLLOUT, 0};
    if (poll(&p, 1, kBusyWaitMs) <= 0) return TWrite::Busy;
  }
}

}  // namespace

void ConfigureDebugLog(bool prmDbgView, const std::string& prmViewerPath) {
  TLogState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  s.Fd.Reset();
  s.Stalled = false;
  s.DbgView = prmDbgView;
  s.ViewerPath = prmViewerPath;
  if (!s.DbgView) s.Fd = OpenViewerSocket(s.ViewerPath);
}

void WriteDebugLog(const std::string& prmText) {
  try {
    TLogState& s = State();
    std::string ansi = ToAnsi(prmText);
    std::lock_guard<std::mutex> g(s.Lock);
    if (s.DbgView) {
      std::fprintf(stderr, "%s\n", prmText.c_str());
      return;
    }
    if (!s.Fd) return;  // no viewer at load: the line is dropped
    std::vector<char> rec(ansi.begin(), ansi.end());
    rec.push_back('\0');
    TWrite w = WriteRecord(s.Fd.Get(), rec, !s.Stalled);
    if (w == TWrite::Failed) {
      // The viewer went away (or restarted): reopen once and try the same record again.
      s.Fd = OpenViewerSocket(s.ViewerPath);
      w = WriteRecord(s.Fd.Get(), rec, !s.Stalled);
    }
    s.Stalled = w == TWrite::Busy;
  } catch (...) {
    // Logging never raises.
  }
}

}  // namespace vantrel
