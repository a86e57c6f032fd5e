#include "platform/ProcessSpawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "diag/UniqueFd.h"
#include "platform/Event.h"

extern char** environ;

namespace vantrel {

namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& prmArgv) {
  std::vector<char*> argv;
  for (const std::string& a : prmArgv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int Spawn(const std::vector<std::string>& prmArgv, const posix_spawn_file_actions_t* prmActions,
          pid_t& prmPid) {
  if (prmArgv.empty() || prmArgv[0].empty()) return ENOENT;
  std::vector<char*> argv = ArgvPointers(prmArgv);
  return posix_spawnp(&prmPid, argv[0], prmActions, nullptr, argv.data(), environ);
}

int ExitCodeOf(int prmStatus) {
  if (WIFEXITED(prmStatus)) return WEXITSTATUS(prmStatus);
  if (WIFSIGNALED(prmStatus)) return 128 + WTERMSIG(prmStatus);
  return -1;
}

// A process descriptor lets the wait join the cancel event in one poll(); 0 ms polls of waitpid
// serve kernels without it.
int OpenPidFd(pid_t prmPid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, prmPid, 0));
#else
  (void)prmPid;
  return -1;
#endif
}

}  // namespace

int SpawnProcess(const std::vector<std::string>& prmArgv, pid_t& prmPid) {
  return Spawn(prmArgv, nullptr, prmPid);
}

bool WaitProcess(pid_t prmPid, TEvent* prmCancel, int prmTimeoutMs, int& prmExitCode) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  TUniqueFd pidFd(OpenPidFd(prmPid));
  bool ended = false;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(prmPid, &status, WNOHANG);
    if (r == prmPid) {
      prmExitCode = ExitCodeOf(status);
      ended = true;
      break;
    }
    if (r < 0 && errno != EINTR) break;
    int wait = prmTimeoutMs < 0 ? -1 : MsLeft(deadline);
    if (prmTimeoutMs >= 0 && wait == 0) break;
    if (!pidFd && (wait < 0 || wait > 100)) wait = 100;
    pollfd fds[2];
    int n = 0;
    if (pidFd) fds[n++] = {pidFd.Get(), POLLIN, 0};
    if (prmCancel != nullptr) fds[n++] = {prmCancel->Fd(), POLLIN, 0};
    poll(fds, static_cast<nfds_t>(n), wait);
    if (prmCancel != nullptr && prmCancel->IsSet()) break;
  }
  return ended;
}

bool RunCaptureOutput(const std::vector<std::string>& prmArgv, int prmTimeoutMs,
                      std::string& prmOutput, size_t prmMaxOutput) {
  prmOutput.clear();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  TUniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int err = Spawn(prmArgv, &actions, pid);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.Reset();
  if (err != 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  char buf[4096];
  for (;;) {
    int left = MsLeft(deadline);
    if (left == 0) break;
    pollfd p{readEnd.Get(), POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    ssize_t n = read(readEnd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t room = prmMaxOutput - std::min(prmMaxOutput, prmOutput.size());
    prmOutput.append(buf, std::min(room, static_cast<size_t>(n)));
  }
  readEnd.Reset();
  int code = 0;
  if (WaitProcess(pid, nullptr, MsLeft(deadline), code)) return true;
  // A probe that hangs must not hold its caller: it is ended and reaped.
  kill(pid, SIGKILL);
  WaitProcess(pid, nullptr, -1, code);
  return false;
}

std::string FindProgram(const std::string& prmProgram) {
  if (prmProgram.empty()) return std::string();
  if (prmProgram.find('/') != std::string::npos)
    return access(prmProgram.c_str(), X_OK) == 0 ? prmProgram : std::string();
  const char* path = std::getenv("PATH");
  std::stringstream ss(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + prmProgram;
    if (access(full.c_str(), X_OK) == 0) return full;
  }
  return std::string();
}

}  // namespace vantrel
