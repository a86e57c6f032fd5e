#include "jsproxy/PacSandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "diag/UniqueFd.h"
#include "jsproxy/PacScript.h"

namespace vantrel::pac {

namespace {

using TClock = std::chrono::steady_clock;

// The child's whole life: run, write the answer, leave without running the parent's exit
// handlers (they belong to the parent's state).
[[noreturn]] void ChildMain(int prmOut, const std::string& prmScript, const std::string& prmUrl,
                            const std::string& prmHost, const TAutoProxyHelperFunctions& prmNet,
                            const TPacLimits& prmLimits) {
  rlimit core{0, 0};
  setrlimit(RLIMIT_CORE, &core);
  std::string answer, error;
  bool ok = RunFindProxyForURL(prmScript, prmUrl, prmHost, prmNet, prmLimits.Memory, answer, error);
  const std::string& text = ok ? answer : error;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(prmOut, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  _exit(ok ? 0 : 1);
}

// Reads until the child closes its end, the text grows past prmMax or the deadline passes.
enum class TRead { Done, TooLong, Late };
TRead ReadAll(int prmFd, size_t prmMax, TClock::time_point prmDeadline, std::string& prmText) {
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(prmDeadline - TClock::now());
    if (left.count() <= 0) return TRead::Late;
    pollfd pfd{prmFd, POLLIN, 0};
    int r = poll(&pfd, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return TRead::Late;
    ssize_t n = read(prmFd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return TRead::Done;
    prmText.append(buf, static_cast<size_t>(n));
    if (prmText.size() > prmMax) return TRead::TooLong;
  }
}

}  // namespace

bool RunFindProxyForURLLimited(const std::string& prmScript, const std::string& prmUrl,
                               const std::string& prmHost, const TAutoProxyHelperFunctions& prmNet,
                               const TPacLimits& prmLimits, std::string& prmAnswer,
                               std::string& prmError) {
  prmAnswer.clear();
  prmError.clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    prmError = "no pipe";
    return false;
  }
  TUniqueFd in(fds[0]), out(fds[1]);
  auto deadline = TClock::now() + prmLimits.Time;
  pid_t pid = fork();
  if (pid < 0) {
    prmError = "no child process";
    return false;
  }
  if (pid == 0) ChildMain(out.Get(), prmScript, prmUrl, prmHost, prmNet, prmLimits);
  out.Reset();
  std::string text;
  TRead read = ReadAll(in.Get(), prmLimits.Answer, deadline, text);
  if (read != TRead::Done) kill(pid, SIGKILL);
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (read == TRead::Late) {
    prmError = "the script ran out of time";
    return false;
  }
  if (read == TRead::TooLong) {
    prmError = "the answer is too long";
    return false;
  }
  bool ok = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!ok) {
    prmError = text.empty() ? "the script engine stopped" : text;
    return false;
  }
  prmAnswer = std::move(text);
  return true;
}

}  // namespace vantrel::pac
